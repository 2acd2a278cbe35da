// The records and enumerations that cross the library boundary.
//
// Field order, widths and defaults are fixed: hosts read these structures
// directly, so nothing here may be reordered or resized. Integers are in the
// platform's byte order, texts are zero-terminated single-byte arrays copied
// to and from the device byte for byte.
#pragma once

#include <bplink/wintypes.h>

#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Enumerations

// Which stored data an operation works on; also the data selector sent to HID
// devices and the index into the nine data-mode flags.
enum enum_DataMode : int {
  DATAMODE_NONE = 0,
  DATAMODE_BP = 1,         // set 1; device types 1, 2, 3, 4, 6
  DATAMODE_BP_SPO2 = 2,    // set 1 with SpO2; device type 3
  DATAMODE_BP_SET2 = 3,    // the second set of an ambulatory recorder (type 1)
  DATAMODE_ZONE1 = 4,      // store 1 of a three-store monitor (type 5)
  DATAMODE_ZONE2 = 5,      // store 2
  DATAMODE_ZONE3 = 6,      // store 3
  DATAMODE_ZONE_ALL = 7,   // all three stores in one call; never reported as offered
  DATAMODE_RESERVED = 8,
};

inline constexpr int kDataModeCount = 9;

// The stage of the running operation, written into the host's stage variable.
enum enum_TransportType : int {
  TRANSPORT_BP_MODE0 = 0,       // blood pressure, data mode 0
  TRANSPORT_PLAN_DOWNLOAD = 1,  // plan and patient settings
  TRANSPORT_BP = 2,             // blood pressure, modes 1, 2 and any other
  TRANSPORT_SPO2 = 3,
  TRANSPORT_BP_SET2 = 4,        // blood pressure, mode 3
  TRANSPORT_DELETE = 5,
  TRANSPORT_BP_ZONE1 = 6,       // blood pressure, mode 4 or 7
  TRANSPORT_BP_ZONE2 = 7,       // blood pressure, mode 5
  TRANSPORT_BP_ZONE3 = 8,       // blood pressure, mode 6
  TRANSPORT_PLAN_UPLOAD = 9,
};

// ---------------------------------------------------------------------------
// Device identification

struct tag_SUPPORT_PROTOCOL {
  int nDeviceType = 0;  // 255 before identification, -1 for an unknown identity byte
  int nProtocol = 0;    // 255 before identification, -1 for an unknown identity byte
  int nReserved = 0;    // the library writes only 255 here
  int nVariant = 0;
  int nVersion = 0;     // HID protocol version byte

  friend bool operator==(const tag_SUPPORT_PROTOCOL&, const tag_SUPPORT_PROTOCOL&) = default;
};

struct _SUB_VERSION {
  int nMainVersion = 0;  // always 1 once answered
  int nSubVersion = 0;   // HID version byte; 0 for the serial families

  friend bool operator==(const _SUB_VERSION&, const _SUB_VERSION&) = default;
};

// ---------------------------------------------------------------------------
// Measurement plan

// Alarm limits of one period. Only the HID family exchanges them.
struct _WARN_GROUP {
  int nWarnSwitch = 0;  // alarm on when nonzero
  int nLimit1 = 0;      // four blood-pressure limits, mmHg
  int nLimit2 = 0;
  int nLimit3 = 0;
  int nLimit4 = 0;
  int nLimit5 = 0;      // only in the long alarm block
  int nLimit6 = 0;

  friend bool operator==(const _WARN_GROUP&, const _WARN_GROUP&) = default;
};

inline constexpr _WARN_GROUP kDefaultDayWarn{0, 140, 90, 90, 60, 0, 0};
inline constexpr _WARN_GROUP kDefaultNightWarn{0, 120, 80, 80, 50, 0, 0};

// The measurement plan with its patient fields. The defaults are the plan a
// device gets when the host changes nothing.
struct _BP_TRANSPORT_INFO {
  char szPatientInfo1[31] = {};
  char szPatientInfo2[12] = {};
  char szPatientInfo3[31] = {};
  char szPatientInfo4[31] = {};
  int nPatientInfo5 = 0;
  int nPatientInfo6 = 0;
  int nYear = 0;  // the device's recording start, or the PC clock on upload
  int nMonth = 0;
  int nDay = 0;
  int nHour = 0;
  int nMinute = 0;
  int nSecond = 0;
  int nOption1 = 1;
  int nOption2 = 1;
  int nOption3 = 297;
  int nOption4 = 0;
  int nExtraStartHour = -1;  // -1: no extra window
  int nExtraStartMinute = -1;
  int nExtraEndHour = -1;
  int nExtraEndMinute = -1;
  int nExtraInterval = 0;  // minutes; 0 or less: none
  int nPeriod1Hour = 7;    // day period
  int nPeriod1Minute = 0;
  int nPeriod1Interval = 60;
  int nPeriod2Hour = 22;   // night period; the day period ends here
  int nPeriod2Minute = 0;
  int nPeriod2Interval = 30;
  _WARN_GROUP DayWarn = kDefaultDayWarn;
  _WARN_GROUP NightWarn = kDefaultNightWarn;
  int nWarnSwitchInfo = 0;

  friend bool operator==(const _BP_TRANSPORT_INFO&, const _BP_TRANSPORT_INFO&) = default;
};

// What a plan may contain.
struct _UPLOAD_NEEDED_DATA {
  _BP_TRANSPORT_INFO Info;
  std::vector<int> vecInterval1;  // allowed intervals, minutes
  std::vector<int> vecInterval2;
  int nDataMode[kDataModeCount] = {};  // indexed by enum_DataMode, 1 = offered

  friend bool operator==(const _UPLOAD_NEEDED_DATA&, const _UPLOAD_NEEDED_DATA&) = default;
};

// ---------------------------------------------------------------------------
// Downloaded data

struct _DATA_HEAD {
  int nCount = 0;  // records the device announced (may exceed what arrived)
  int nYear = 0;   // start time of the set
  int nMonth = 0;
  int nDay = 0;
  int nHour = 0;
  int nMinute = 0;
  int nSecond = 0;
  int nReserved = 0;

  friend bool operator==(const _DATA_HEAD&, const _DATA_HEAD&) = default;
};

struct _BP_RECORD {
  int nReserved = 0;
  int nYear = 0;
  short wMonth = 0;
  short wDay = 0;
  short wHour = 0;
  short wMinute = 0;
  short wSecond = 0;
  int nSys = 0;
  short wPress2 = 0;
  short wPress3 = 0;
  short wPulseRate = 0;
  short wAux1 = 0;
  short wFlagsHigh = 0;
  short wAux2 = 0;
  short wStatus = 0;
  BYTE byFlagsLow = 0;
  int nAux3 = 0;
  int nMinuteOffset = 0;
  int bValid = 1;  // 1 when wStatus is 0 or 3
  std::wstring strNote;

  friend bool operator==(const _BP_RECORD&, const _BP_RECORD&) = default;
};

struct _SPO2_RECORD {
  BYTE bySpO2 = 0;
  BYTE byPulseRate = 0;
  int nTimeOffset = 0;

  friend bool operator==(const _SPO2_RECORD&, const _SPO2_RECORD&) = default;
};

struct _BP_DATASET {
  _DATA_HEAD Head;
  std::vector<_BP_RECORD> vecRecords;

  friend bool operator==(const _BP_DATASET&, const _BP_DATASET&) = default;
};

struct _SPO2_DATASET {
  _DATA_HEAD Head;
  std::vector<_SPO2_RECORD> vecRecords;

  friend bool operator==(const _SPO2_DATASET&, const _SPO2_DATASET&) = default;
};

// What GetDownLoadData hands to the host. Two layouts, chosen by device type:
//  - A (types 1, 2, 3, 4, 6): BPSet, Info, and BPSet2 (type 1) or SpO2Set (type 3);
//  - B (type 5): ZoneSet1, ZoneSet2, ZoneSet3.
// The layouts are separate members rather than a union, so every member is a
// well-formed object the host can read at any time. ZoneSet1 stands for the
// same storage as BPSet: a type-5 fetch writes set 1 into both, and leaves
// Info alone.
struct _DOWNLOAD_DATAINFO {
  _BP_DATASET BPSet;
  _BP_TRANSPORT_INFO Info;
  _BP_DATASET BPSet2;
  _SPO2_DATASET SpO2Set;
  _BP_DATASET ZoneSet1;
  _BP_DATASET ZoneSet2;
  _BP_DATASET ZoneSet3;

  friend bool operator==(const _DOWNLOAD_DATAINFO&, const _DOWNLOAD_DATAINFO&) = default;
};
