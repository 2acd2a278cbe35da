// CProtocolCOMVESTRA16C: the VESTRA16C monitors, a variant of the VESTRA16
// monitors (see protocol_vestra16.h) with the same settings and record blocks.
//
// What differs on the wire: the device answers the opening commands 0x88 and
// 0xAA, and every uploaded byte, with 0x6C; a download shakes hands at 4800
// baud and then reopens the same port at 115200 baud, where the settings are
// read with 0x54 and the records with 0xEE, without a pause before the
// answer. A failed exchange is asked again for the same record (ten times)
// instead of being skipped. The option switch at offset 56 is inverted
// (0x00 means on) and the extra window is sent field by field.
#pragma once

#include <bplink/export.h>
#include <bplink/protocol_base.h>
#include <bplink/wintypes.h>

class BPLINK_API CProtocolCOMVESTRA16C : public CProtocolBase {
 public:
  static constexpr int kFrameBufferSize = 80;  // bytes of the frame buffer: one frame either way

  CProtocolCOMVESTRA16C();
  // Copies every member: data, binding, the port last found.
  CProtocolCOMVESTRA16C(const CProtocolCOMVESTRA16C& other);
  CProtocolCOMVESTRA16C& operator=(const CProtocolCOMVESTRA16C& other);  // copies every member, as the copy does
  ~CProtocolCOMVESTRA16C() override;

  // 1; 2 no port answered the handshake with 0x6C; 7 the settings (five
  // tries) or a record (ten tries) could not be read; 8 an exception. A stop
  // request ends with 1 and what came.
  int PC_Download(enum_DataMode nMode) override;
  // 1; 2 no port answered 0xAA with 0x6C; 7 a byte was not acknowledged;
  // 8 an exception; 10 the block could not be built.
  int PC_Upload(enum_DataMode nMode) override;
  // Blood-pressure data (mode 1) only; the other entries are left alone.
  int GetDownLoadDataMode(int* pnDataMode) override;

 protected:
  int UploadBPInfo() override;
  int DownloadBPInfo() override;
  int DownloadBPData() override;

 private:
  BPLINK_LOCAL int OpenDevice(DCB dcb, BYTE byCommand, BYTE byExpected);
  BPLINK_LOCAL bool PC_Pack();
  BPLINK_LOCAL int IsRightReceive(BYTE* pbyCommand, BYTE* pbyExpected);
  BPLINK_LOCAL bool PC_Unpack();
  BPLINK_LOCAL bool ClearCommData();
  // Finds the device at 4800 baud and closes the port again, keeping its path.
  BPLINK_LOCAL int DoHandShake();
  // One request and its answer, for the command at buffer position 0.
  BPLINK_LOCAL bool PC_ReceivePack();

  BYTE m_byBuffer[kFrameBufferSize] = {};
  CString m_strPortPath;
};
