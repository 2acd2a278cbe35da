// CProtocolCOMKX71: the ambulatory recorder of the KX71 family, on a serial
// port at 115200 baud, 8N1.
//
// Every operation finds the recorder afresh: it sends the six-byte handshake
// to each openable port in list order and keeps the first that answers. A
// link the host opened itself (SetDevice(device, true), e.g. Bluetooth) is
// used as it is, without any port search.
//
// A download is a stream the recorder drives: group headers that say which
// of its two data sets the following records belong to, record counts and
// records, each answered with an acknowledgement. The recorder ends the
// stream by falling silent; the download ends after the sixth packet that
// does not come, so it always costs six receive time-outs at its end. A
// recorder that answered the handshake with 0x34 also keeps a plan, which is
// fetched after the records.
//
// An upload handshakes, closes, finds the recorder again with the one-byte
// probe 0xAA (answer 0x6C) and sends the 70-byte plan block one byte at a
// time, each confirmed with 0x6C.
#pragma once

#include <bplink/export.h>
#include <bplink/protocol_base.h>
#include <bplink/wintypes.h>

class BPLINK_API CProtocolCOMKX71 : public CProtocolBase {
 public:
  // The frame buffer holds one outgoing plan block or one incoming packet.
  static constexpr DWORD kFrameSize = 80;
  // Records that arrive before any group header (the recorder always sends
  // one first) go to data set 1: a new object starts with the group-is-primary
  // flag set. Later downloads start with the value the last header left.
  static constexpr bool kGroupIsPrimaryAtStart = true;

  // Device type 1, protocol 6; nReserved and nVariant 255.
  CProtocolCOMKX71();
  // Copies every member: data, binding, the port last found.
  CProtocolCOMKX71(const CProtocolCOMKX71& other);
  CProtocolCOMKX71& operator=(const CProtocolCOMKX71& other);  // copies every member, as the copy does
  ~CProtocolCOMKX71() override;

  // 1; 2 no port answered the handshake; 5 unknown handshake reply, or the
  // stored plan could not be asked for or read; 7 the plan reply did not
  // start with 0x55; 8 exception. The data mode does not change what comes.
  int PC_Download(enum_DataMode nMode) override;
  // 1; 0 the recorder did not confirm a byte; 2 no port answered; 5 unknown
  // handshake reply; 8 exception.
  int PC_Upload(enum_DataMode nMode) override;
  // Marks data modes 1 and 3; other entries stay as they are. 9 for a null array.
  int GetDownLoadDataMode(int* pnDataMode) override;

 protected:
  int UploadBPInfo() override;
  int DownloadBPInfo() override;
  int DownloadBPData() override;

 private:
  // Link.
  BPLINK_LOCAL int OpenDevice(DCB dcb, BYTE byRequest, BYTE byExpected);
  BPLINK_LOCAL int OpenDevice(DCB dcb, BYTE* pRequest, BYTE& byReply);
  BPLINK_LOCAL int DoHandShake();
  BPLINK_LOCAL int IsRightReceive(BYTE* pRequest, BYTE* pExpected);
  BPLINK_LOCAL bool ClearCommData();

  // Frames and packets.
  BPLINK_LOCAL bool PC_Pack();
  BPLINK_LOCAL bool PC_ReceivePack();
  BPLINK_LOCAL bool PC_Unpack();
  BPLINK_LOCAL bool UnPack(BYTE* pFirst, BYTE* pLast, CByteArray& out);
  BPLINK_LOCAL bool PC_AcknowledgePack(bool bOk);
  BPLINK_LOCAL void StorePlanReply(const BYTE* pBody);

  BYTE m_byFrame[kFrameSize] = {};
  CString m_strPortPath;            // the port the last search found
  bool m_bDeviceKeepsPlan = false;  // the handshake reply was 0x34
  bool m_bGroupIsPrimary = kGroupIsPrimaryAtStart;
};
