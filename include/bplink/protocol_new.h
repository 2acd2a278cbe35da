// CProtocol_NEW: the protocol of the newer monitors, reached over USB HID.
//
// One class serves every HID device type (ambulatory recorders, monitors with
// one or three stores, monitors with SpO2); the identity byte of the device's
// information reply tells them apart. Every entry point is one session: it
// opens the bound device, identifies it, runs its transfers and closes it
// again. Results, progress, stage and state follow CProtocolBase.
//
// The object remembers the identity and version bytes of the last
// identification; PC_Upload and PC_Delete do not identify the device
// themselves, so run PC_Download or GetDownLoadDataMode on the same object
// first. Before any identification both bytes are 0, the device type is 0,
// and PC_Upload sends its requests with identity byte 0.
#pragma once

#include <bplink/export.h>
#include <bplink/protocol_base.h>
#include <bplink/wintypes.h>

#include <memory>
#include <vector>

class BPLINK_API CProtocol_NEW : public CProtocolBase {
 public:
  CProtocol_NEW();
  // A copy takes the identification and the downloaded data, and starts with
  // an empty receive buffer of its own.
  CProtocol_NEW(const CProtocol_NEW& other);
  CProtocol_NEW& operator=(const CProtocol_NEW& other);  // takes what a copy takes
  ~CProtocol_NEW() override;

  // Data mode 0 is refused with 9 (state 2). Type 1 recorders also deliver
  // their second set (data mode 3) in the same call, and from version 5 on
  // their patient block. Type 3 monitors deliver SpO2 samples in data mode 2.
  //
  // SpO2 samples (GetDownLoadData's SpO2Set): nTimeOffset is the sample's
  // position in whole seconds after the set's start time, the time in the
  // set's head. Devices send samples in one of two formats:
  //  - with a 24-bit position (sent big-endian): the head holds the start
  //    time the device announced, to the second, and nTimeOffset is the
  //    position as sent;
  //  - with the sample's own time: the first sample that arrives sets the
  //    start time, so nTimeOffset is 0 for it and counts from it for the rest,
  //    also when the device's first sample was lost or damaged on the way
  //    (negative for a sample dated before it, 0 for a sample whose own time
  //    is no calendar time). When no sample arrives, the head's time stays 0.
  // A lost or damaged sample is dropped and the samples after it are still
  // read; the result is then 5 (lost) or 10 (damaged), whichever came last.
  // A device that sends nothing for five samples in a row is taken to have
  // stopped, and the download ends there with 5.
  int PC_Download(enum_DataMode nMode) override;
  // Deletes stored measurements; only device type 5 allows it (6 otherwise).
  // Leaves the state and progress variables alone.
  int PC_Delete(enum_DataMode nMode) override;
  // Writes the plan given to SetUpLoadData, stamped with the PC clock; device
  // type 5 takes no plan (6). With the plan go the alarm limits (type 2, and
  // type 4 from version byte 2 on), the alarm switch value (types 1 and 3
  // from version 4 on) and the patient block (type 1 from version 5 on).
  int PC_Upload(enum_DataMode nMode) override;
  // Identifies the device and copies the nine data-mode flags it offers.
  // Flags are only ever added to the object's table, never cleared.
  int GetDownLoadDataMode(int* pnDataMode) override;
  // Identifies the device and answers with its data-mode flags and the
  // intervals a plan may use: the device's own table and current plan for
  // type 2 and for type 1 from version byte 3 on (except 6), fixed lists
  // otherwise; types 1 and 3 from version 4 on also give their alarm switch
  // value. Writes progress and stage while it reads the plan.
  int PC_DownloadBPInfoTimeInterval(_UPLOAD_NEEDED_DATA& data) override;
  // 1 and the version byte of the last identification; no exchange.
  int GetProtocolVersion(_SUB_VERSION& version) override;

  // The patient block of the newer ambulatory recorders. Both run inside an
  // open session; neither opens or closes the device. They are the only
  // operations of the library that print: each writes lines to the process
  // console (stdout) as raw GBK bytes ending in CR LF, the codes of the
  // announcement ("0X37, 0X9F", and "0X4A, 0X37" when the device accepts it)
  // and, on upload, the device's verdict.
  int DownloadPatientInfo();  // reads the patient block into the plan's patient fields
  int UploadPatientInfo();    // writes the plan's patient fields as the patient block

 protected:
  int UploadBPInfo() override;
  int DownloadBPInfo() override;
  int DownloadSpO2Data() override;
  int DownloadBPData() override;

 private:
  // Session steps.
  BPLINK_LOCAL int StartTransfer(enum_DataMode nMode, bool bClearData);
  BPLINK_LOCAL int AbortTransfer();
  BPLINK_LOCAL int OpenHIDDev();
  BPLINK_LOCAL int CloseHIDDev();
  BPLINK_LOCAL int GetDeviceInfo();
  BPLINK_LOCAL int DoHandShake();
  BPLINK_LOCAL int BreakHandShake();
  BPLINK_LOCAL bool DeleteBPData();

  // Transfers.
  BPLINK_LOCAL bool DownloadBPDataBlock(int nBlock);
  BPLINK_LOCAL bool Pack_BPInfo(_BP_TRANSPORT_INFO info, BYTE* pOut, int& nOutLength);
  BPLINK_LOCAL int DownloadWarnInfo();
  BPLINK_LOCAL int UploadWarnInfo();
  BPLINK_LOCAL int DownloadWarnSwitchInfo();
  BPLINK_LOCAL int UploadWarnSwitchInfo();
  BPLINK_LOCAL int DownloadDeviceInfo();
  BPLINK_LOCAL int DownloadTimeInterval(std::vector<int>& vecInterval);
  BPLINK_LOCAL void AnnouncePatientTransfer();
  BPLINK_LOCAL int RequestPatientTransfer(BYTE byDirection);
  BPLINK_LOCAL void SendPatientStatus(BYTE byStatus);

  // Frame rules shared by every exchange.
  BPLINK_LOCAL BYTE* NewBuffer(DWORD dwLength);
  BPLINK_LOCAL void FreeBuffer();
  BPLINK_LOCAL bool SendFrame(BYTE* pFrame, DWORD dwLength);
  BPLINK_LOCAL bool ReceiveFrame(BYTE* pFrame, DWORD dwLength);
  BPLINK_LOCAL int RequestParameter(BYTE byOperation, BYTE byObject, unsigned nPauseMs);
  BPLINK_LOCAL int SendForAck(BYTE* pFrame, DWORD dwLength, unsigned nPauseMs, int nRefused);
  BPLINK_LOCAL int CommandWithReply(BYTE byCommand, BYTE* pReply, DWORD dwReplyLength, BYTE byReplyCode);
  BPLINK_LOCAL void AddProgress(int nPercent);

  std::unique_ptr<BYTE[]> m_pRecvBuffer;  // scratch frame of the running operation
  BYTE m_byIdentity = 0;  // identity byte of the device-information reply
  BYTE m_byVersion = 0;   // version byte of the device-information reply
};
