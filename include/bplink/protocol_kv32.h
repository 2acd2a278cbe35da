// CProtocolCOMKV32: the KV32 monitor (blood pressure and SpO2) on a serial
// port.
//
// The monitor speaks single-byte commands, each echoed before its reply. It
// is found and greeted at 4800 baud; the download then reopens the same port
// at 115200 baud, the plan upload searches again at 4800 baud. Every entry
// point scans the port list itself, also when the host bound a device it
// opened (SetDevice's flag is not read), and leaves no port open.
//
// Two data modes: 2 dates records in seconds from the recording's start and
// uploads the short plan block; 1 (and any other mode for the handshake and
// upload) dates them in minutes and uploads the full plan with its periods,
// extra window and the code of the period the recording starts in.
//
// SpO2 samples. The plan reply carries the number of SpO2 samples the monitor
// holds, and GetDownLoadData hands it out as SpO2Set.Head.nCount; the samples
// themselves are not downloaded, so SpO2Set.vecRecords stays empty. The
// monitor echoes the sample request 0xDB, but what it sends after the echo is
// not known, so PC_Download does not call DownloadSpO2Data: a guess at the
// sample layout would hand the host invented values.
#pragma once

#include <bplink/export.h>
#include <bplink/protocol_base.h>
#include <bplink/wintypes.h>

class BPLINK_API CProtocolCOMKV32 : public CProtocolBase {
 public:
  CProtocolCOMKV32();
  // Copies every member: data, binding, the port last found.
  CProtocolCOMKV32(const CProtocolCOMKV32& other);
  CProtocolCOMKV32& operator=(const CProtocolCOMKV32& other);  // copies every member, as the copy does
  ~CProtocolCOMKV32() override;

  // Plan, record counts and blood-pressure records into data set 1.
  // 1; 2 no port echoed the handshake; 5 the plan request was not echoed,
  // or ten record requests failed; 8 exception. A stop request ends it with
  // 1 and the records that came.
  int PC_Download(enum_DataMode nMode) override;
  // The plan given to SetUpLoadData, stamped with the PC clock.
  // 1; 2 no port answered; 5 a plan byte was not confirmed; 8 exception;
  // 10 the plan block could not be built.
  int PC_Upload(enum_DataMode nMode) override;
  // Sets the entries of data modes 1 and 2; leaves the others alone.
  int GetDownLoadDataMode(int* pnDataMode) override;

 protected:
  int UploadBPInfo() override;
  int DownloadBPInfo() override;
  // Not called by any operation (see above). When called on an open link it
  // requests `SpO2Set.Head.nCount` samples and stores one record per echo,
  // built from the frame bytes as the previous exchange left them. 1, or 0
  // after ten failed requests.
  int DownloadSpO2Data() override;
  int DownloadBPData() override;

 private:
  BPLINK_LOCAL int OpenDevice(DCB dcb, BYTE byRequest, BYTE byExpected);
  BPLINK_LOCAL int DoHandShake();
  BPLINK_LOCAL bool PC_Pack();
  BPLINK_LOCAL bool ClearCommData();
  // Closes the bound device, if any; never throws.
  BPLINK_LOCAL void CloseLink();

  static constexpr int kFrameLength = 80;
  BYTE m_byFrame[kFrameLength] = {};  // outgoing plan block or incoming reply
  CString m_strPortPath;              // the port the last search found
};
