// CProtocolBase: what every protocol object shares.
//
// It holds the bound device, the host's three progress variables, the plan to
// upload, the downloaded data and the device identification, and fixes the
// order of the virtual operations every protocol class overrides. Each
// operation has a base body, so the class can be instantiated on its own; it
// then talks to no device.
#pragma once

#include <bplink/codes.h>
#include <bplink/export.h>
#include <bplink/records.h>
#include <bplink/wintypes.h>

class CDevice;

class BPLINK_API CProtocolBase {
 public:
  CProtocolBase();
  CProtocolBase(const CProtocolBase& other);
  CProtocolBase& operator=(const CProtocolBase& other);

  // The virtual slots, in the order hosts program against. Do not reorder.
  virtual ~CProtocolBase();                                             // 0
  virtual int PC_Download(enum_DataMode nMode);                         // 1
  virtual int PC_Delete(enum_DataMode nMode);                           // 2
  virtual int PC_Upload(enum_DataMode nMode);                           // 3
  virtual int GetDownLoadDataMode(int* pnDataMode);                     // 4
  virtual void SetDevice(CDevice* pDevice, bool bOpened);               // 5
  virtual int SetProgressInfo(int* pnProgress, int* pnState,
                              enum_TransportType* pType);               // 6
  virtual int PC_DownloadBPInfoTimeInterval(_UPLOAD_NEEDED_DATA& data); // 7
  virtual bool SetUpLoadData(_BP_TRANSPORT_INFO info);                  // 8
  virtual int GetCurDeviceInfo(tag_SUPPORT_PROTOCOL& info);             // 9
  virtual int GetProtocolVersion(_SUB_VERSION& version);                // 10

 protected:
  virtual bool ClearAllData();                                          // 11
  virtual int UploadBPInfo();                                           // 12
  virtual int DownloadBPInfo();                                         // 13
  virtual int DownloadSpO2Data();                                       // 14
  virtual int DownloadBPData();                                         // 15

 public:
  // Copies the downloaded data into the host's record, in the layout of the
  // device type. 1, or 8 when copying failed part-way.
  int GetDownLoadData(_DOWNLOAD_DATAINFO* pInfo);

  // The data mode of the running operation; one value for the process.
  static enum_DataMode m_nABPM_Type;

 protected:
  // Marks the modes a device type offers; 1, or 10 for an unknown type.
  int GetDataMode(int nDeviceType);
  static int GetDeviceType(BYTE byIdentity);
  static int GetDeviceProtocol(BYTE byIdentity);

  // Progress reporting. The host may read these variables, and write the
  // stop request into the state, from another thread while an operation runs,
  // so every access goes through std::atomic_ref. A pointer the host did not
  // register is skipped rather than dereferenced.
  void SetProgress(int nPercent);
  void SetStage(enum_TransportType stage);
  void SetState(int nState);
  int GetState() const;
  bool IsStopRequested() const;
  // The state that ends an operation with the given result: 3 for 1, else 2.
  void FinishState(int nResult);
  // The stage that the running data mode selects for blood-pressure data.
  static enum_TransportType StageForDataMode(int nMode);

  // The table of offered data modes (m_nDataMode), indexed by enum_DataMode;
  // it is the nDataMode of m_UploadNeeded.
  int* DataModeFlags() { return m_UploadNeeded.nDataMode; }

  _UPLOAD_NEEDED_DATA m_UploadNeeded;
  _BP_DATASET m_BPSet1;
  _BP_DATASET m_BPSet2;
  _BP_DATASET m_BPSet3;
  _SPO2_DATASET m_SpO2Set;
  tag_SUPPORT_PROTOCOL m_SupportInfo;
  CDevice* m_pDevice = nullptr;
  bool m_bOpened = false;
  int* m_pnProgress = nullptr;
  int* m_pnState = nullptr;
  enum_TransportType* m_pTransportType = nullptr;
};
