// CProtocolCOMVESTRA18: the monitors with three measurement stores, reached
// over a serial port at 9600 baud.
//
// The family is download-only. The host sends one request byte naming the
// store (or all three), the monitor echoes it and then sends one section per
// store: a set number, a record count and that many fixed 12-byte record
// frames. The echo doubles as the port search: the first port that echoes
// the request is the monitor's.
//
// Results (CProtocolBase codes): 1 success; 2 no port echoed the request;
// 5 an exception during the port search, or ten record frames of one section
// did not come; 6 a data mode outside 4..7; 10 a section named a set above 3;
// 8 an exception anywhere else.
#pragma once

#include <bplink/export.h>
#include <bplink/protocol_base.h>
#include <bplink/wintypes.h>

class BPLINK_API CProtocolCOMVESTRA18 : public CProtocolBase {
 public:
  static constexpr int kFrameBufferLength = 80;  // bytes of the receive buffer: one frame

  CProtocolCOMVESTRA18();
  // Copies every member: data, binding, the port last found.
  CProtocolCOMVESTRA18(const CProtocolCOMVESTRA18& other);
  CProtocolCOMVESTRA18& operator=(const CProtocolCOMVESTRA18& other);  // copies every member, as the copy does
  ~CProtocolCOMVESTRA18() override;

  // Data modes 4, 5 and 6 read stores 1, 2 and 3 into data sets 1, 2 and 3;
  // mode 7 reads all three in one call. Each set that received records gets
  // its header (count, and the time of its first record) filled.
  int PC_Download(enum_DataMode nMode) override;
  // The monitor takes no plan: always 6; sends nothing and leaves the
  // progress variables alone.
  int PC_Upload(enum_DataMode nMode) override;
  // Marks modes 4, 5 and 6 as offered and leaves every other entry as the
  // host gave it. Mode 7 is accepted by PC_Download but never offered.
  int GetDownLoadDataMode(int* pnDataMode) override;

 private:
  int DownloadBPData() override;

  // The port search with the request byte, which the monitor echoes.
  BPLINK_LOCAL int DoHandShake();
  BPLINK_LOCAL int OpenDevice(_DCB dcb, BYTE byRequest, BYTE byExpected);
  // One section: set number, record count, the record frames.
  BPLINK_LOCAL int DownloadSection(bool& bStopped);
  BPLINK_LOCAL bool PC_ReceivePack();
  BPLINK_LOCAL bool PC_Unpack(int nSetNumber);
  BPLINK_LOCAL _BP_DATASET* SetByNumber(int nSetNumber);

  BYTE m_byRecvBuffer[kFrameBufferLength] = {};
  CString m_strPortPath;  // the port the last search found
  int m_nSubMode = 0;     // the requested data mode minus 3: 1, 2, 3 or 4
};
