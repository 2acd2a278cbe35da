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
  CProtocolBase(const CProtocolBase& other);             // copies the data, the binding and the host's variables
  CProtocolBase& operator=(const CProtocolBase& other);  // copies the data, the binding and the host's variables

  // The virtual slots, in the order hosts program against. Do not reorder.
  virtual ~CProtocolBase();                                             // slot 0
  // Slot 1: downloads what the device stored in data mode nMode. Base: 1, nothing.
  virtual int PC_Download(enum_DataMode nMode);
  // Slot 2: deletes the stored measurements. Base: 1, nothing.
  virtual int PC_Delete(enum_DataMode nMode);
  // Slot 3: writes the plan given to SetUpLoadData. Base: 1, nothing.
  virtual int PC_Upload(enum_DataMode nMode);
  // Slot 4: marks the data modes the device offers in the host's nine flags. Base: 1, nothing.
  virtual int GetDownLoadDataMode(int* pnDataMode);
  // Slot 5: the link to talk through (borrowed); bOpened: the host opened it already.
  virtual void SetDevice(CDevice* pDevice, bool bOpened);
  // Slot 6: the host's progress (0..100), state and stage variables, which
  // operations write; 0 when pType is null.
  virtual int SetProgressInfo(int* pnProgress, int* pnState, enum_TransportType* pType);
  // Slot 7: the intervals a plan may use and the plan the device holds. Base:
  // the standard intervals and the default plan, answered with 10.
  virtual int PC_DownloadBPInfoTimeInterval(_UPLOAD_NEEDED_DATA& data);
  // Slot 8: the plan the next PC_Upload writes. Always true.
  virtual bool SetUpLoadData(_BP_TRANSPORT_INFO info);
  // Slot 9: the device as the object knows it. 1.
  virtual int GetCurDeviceInfo(tag_SUPPORT_PROTOCOL& info);
  // Slot 10: the protocol version. Base: 1.0, answered with 1.
  virtual int GetProtocolVersion(_SUB_VERSION& version);

 protected:
  // Slot 11: forgets the downloaded data and the plan; the intervals, the
  // offered modes and the identification belong to the device and stay.
  virtual bool ClearAllData();
  // Slot 12: the plan's transfer of PC_Upload. Base: sets the stage, 1.
  virtual int UploadBPInfo();
  // Slot 13: the plan's transfer of a download. Base: sets the stage, 1.
  virtual int DownloadBPInfo();
  // Slot 14: the SpO2 samples' transfer. Base: sets the stage, 1.
  virtual int DownloadSpO2Data();
  // Slot 15: the blood-pressure records' transfer. Base: sets the stage, 1.
  virtual int DownloadBPData();

 public:
  // Copies the downloaded data into the host's record, in the layout of the
  // device type. 1, or 8 when copying failed part-way.
  int GetDownLoadData(_DOWNLOAD_DATAINFO* pInfo);

  // The data mode of the running operation; one value for the process.
  static enum_DataMode m_nABPM_Type;

 protected:
  // Marks the modes a device type offers; 1, or 10 for an unknown type.
  int GetDataMode(int nDeviceType);
  static int GetDeviceType(BYTE byIdentity);      // the device type an identity byte names; -1 unknown
  static int GetDeviceProtocol(BYTE byIdentity);  // the protocol code an identity byte names; -1 unknown

  // Progress reporting. The host may read these variables, and write the
  // stop request into the state, from another thread while an operation runs,
  // so every access goes through std::atomic_ref. A pointer the host did not
  // register is skipped rather than dereferenced.
  void SetProgress(int nPercent);           // writes the host's progress
  void SetStage(enum_TransportType stage);  // writes the host's stage
  void SetState(int nState);                // writes the host's state
  int GetState() const;                     // reads the host's state
  bool IsStopRequested() const;             // the host wrote 5 into the state
  // The state that ends an operation with the given result: 3 for 1, else 2.
  void FinishState(int nResult);
  // The stage that the running data mode selects for blood-pressure data.
  static enum_TransportType StageForDataMode(int nMode);

  // The table of offered data modes (m_nDataMode), indexed by enum_DataMode;
  // it is the nDataMode of m_UploadNeeded.
  int* DataModeFlags() { return m_UploadNeeded.nDataMode; }

  _UPLOAD_NEEDED_DATA m_UploadNeeded;               // the plan to upload, intervals and offered modes
  _BP_DATASET m_BPSet1;                             // the first set or store
  _BP_DATASET m_BPSet2;                             // the second set or store
  _BP_DATASET m_BPSet3;                             // the third store
  _SPO2_DATASET m_SpO2Set;                          // the SpO2 samples
  tag_SUPPORT_PROTOCOL m_SupportInfo;               // the device identification
  CDevice* m_pDevice = nullptr;                     // the bound link (borrowed)
  bool m_bOpened = false;                           // the host opened the link itself
  int* m_pnProgress = nullptr;                      // the host's progress variable, or null
  int* m_pnState = nullptr;                         // the host's state variable, or null
  enum_TransportType* m_pTransportType = nullptr;  // the host's stage variable, or null
};
