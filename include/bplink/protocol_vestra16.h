// CProtocolCOMVESTRA16: the VESTRA16 monitors, on a serial port at 4800 baud.
//
// The device speaks three single-byte commands, each answered with its own
// echo: 0x88 reads the 72-byte settings block (plan, patient texts, recording
// start and the number of stored measurements), 0xEE reads the next stored
// measurement (13 bytes), 0xAA starts a plan upload whose 70 bytes the device
// acknowledges one by one. There is no framing and no checksum: the echo is
// the only check, and every byte is read by its own receive.
//
// Every entry point finds its port again (all openable ports, in list order;
// a link the host opened itself is not used as it is), works on it and closes
// it. The records go to data set 1, dated from the recording start.
#pragma once

#include <bplink/export.h>
#include <bplink/protocol_base.h>
#include <bplink/wintypes.h>

class BPLINK_API CProtocolCOMVESTRA16 : public CProtocolBase {
 public:
  static constexpr int kFrameBufferSize = 80;  // bytes of the frame buffer: one frame either way

  CProtocolCOMVESTRA16();
  // Copies every member: data, binding, the port last found.
  CProtocolCOMVESTRA16(const CProtocolCOMVESTRA16& other);
  CProtocolCOMVESTRA16& operator=(const CProtocolCOMVESTRA16& other);  // copies every member, as the copy does
  ~CProtocolCOMVESTRA16() override;

  // Settings block into the plan, then every stored measurement into data
  // set 1. 1; 2 no port answered; 5 the settings could not be read; 7 five
  // record exchanges failed (the failed records are skipped, not retried);
  // 8 an exception. A stop request ends with 1 and what came.
  int PC_Download(enum_DataMode nMode) override;
  // Writes the plan given to SetUpLoadData, stamped with the PC clock.
  // 1; 2 no port answered; 5 the block could not be built or a byte was not
  // acknowledged; 8 an exception.
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

  // The outgoing settings block (from position 0), or a command byte at
  // position 0 followed by the block the device answered with.
  BYTE m_byBuffer[kFrameBufferSize] = {};
  // The port OpenDevice found the device on.
  CString m_strPortPath;
};
