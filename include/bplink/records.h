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

inline constexpr int kDataModeCount = 9;  // data modes 0..8: the length of every data-mode table

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
  int nVariant = 0;     // the family's variant, where the device names one
  int nVersion = 0;     // HID protocol version byte

  friend bool operator==(const tag_SUPPORT_PROTOCOL&, const tag_SUPPORT_PROTOCOL&) = default;
};

// The protocol version a device answered with.
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
  int nLimit2 = 0;      // the second limit, mmHg
  int nLimit3 = 0;      // the third limit, mmHg
  int nLimit4 = 0;      // the fourth limit, mmHg
  int nLimit5 = 0;      // only in the long alarm block
  int nLimit6 = 0;      // only in the long alarm block

  friend bool operator==(const _WARN_GROUP&, const _WARN_GROUP&) = default;
};

inline constexpr _WARN_GROUP kDefaultDayWarn{0, 140, 90, 90, 60, 0, 0};    // the day's limits of the default plan
inline constexpr _WARN_GROUP kDefaultNightWarn{0, 120, 80, 80, 50, 0, 0};  // the night's limits of the default plan

// The measurement plan with its patient fields. The defaults are the plan a
// device gets when the host changes nothing.
struct _BP_TRANSPORT_INFO {
  char szPatientInfo1[31] = {};  // first patient text, zero-terminated
  char szPatientInfo2[12] = {};  // second patient text
  char szPatientInfo3[31] = {};  // third patient text
  char szPatientInfo4[31] = {};  // fourth patient text
  int nPatientInfo5 = 0;         // first patient value
  int nPatientInfo6 = 0;         // second patient value
  int nYear = 0;  // the device's recording start, or the PC clock on upload
  int nMonth = 0;             // month of nYear's date, 1..12
  int nDay = 0;               // day of the month
  int nHour = 0;              // hour, 0..23
  int nMinute = 0;            // minute
  int nSecond = 0;            // second
  int nOption1 = 1;           // first device option, as the device keeps it
  int nOption2 = 1;           // second device option
  int nOption3 = 297;         // third device option
  int nOption4 = 0;           // fourth device option
  int nExtraStartHour = -1;   // -1: no extra window
  int nExtraStartMinute = -1;  // the extra window's start minute; -1: none
  int nExtraEndHour = -1;      // the extra window's end hour; -1: none
  int nExtraEndMinute = -1;    // the extra window's end minute; -1: none
  int nExtraInterval = 0;  // minutes; 0 or less: none
  int nPeriod1Hour = 7;    // day period
  int nPeriod1Minute = 0;     // the day period's start minute
  int nPeriod1Interval = 60;  // minutes between the day period's measurements
  int nPeriod2Hour = 22;   // night period; the day period ends here
  int nPeriod2Minute = 0;     // the night period's start minute
  int nPeriod2Interval = 30;  // minutes between the night period's measurements
  _WARN_GROUP DayWarn = kDefaultDayWarn;      // the day period's alarm limits
  _WARN_GROUP NightWarn = kDefaultNightWarn;  // the night period's alarm limits
  int nWarnSwitchInfo = 0;                    // the alarm switch value, where the device keeps one

  friend bool operator==(const _BP_TRANSPORT_INFO&, const _BP_TRANSPORT_INFO&) = default;
};

// What a plan may contain.
struct _UPLOAD_NEEDED_DATA {
  _BP_TRANSPORT_INFO Info;        // the plan the device holds, or the default plan
  std::vector<int> vecInterval1;  // allowed intervals, minutes
  std::vector<int> vecInterval2;  // allowed intervals of the night period, minutes
  int nDataMode[kDataModeCount] = {};  // indexed by enum_DataMode, 1 = offered

  friend bool operator==(const _UPLOAD_NEEDED_DATA&, const _UPLOAD_NEEDED_DATA&) = default;
};

// ---------------------------------------------------------------------------
// Downloaded data

// The head of a downloaded set: its announced count and start time.
struct _DATA_HEAD {
  int nCount = 0;  // records the device announced (may exceed what arrived)
  int nYear = 0;   // start time of the set
  int nMonth = 0;     // month of the start
  int nDay = 0;       // day of the start
  int nHour = 0;      // hour of the start
  int nMinute = 0;    // minute of the start
  int nSecond = 0;    // second of the start
  int nReserved = 0;  // unused, 0

  friend bool operator==(const _DATA_HEAD&, const _DATA_HEAD&) = default;
};

// One blood-pressure measurement, with the fields as the device sends them.
struct _BP_RECORD {
  int nReserved = 0;       // unused, 0
  int nYear = 0;           // when it was measured, by the device's clock
  short wMonth = 0;        // month, 1..12
  short wDay = 0;          // day of the month
  short wHour = 0;         // hour, 0..23
  short wMinute = 0;       // minute
  short wSecond = 0;       // second
  int nSys = 0;            // systolic pressure, mmHg
  short wPress2 = 0;       // diastolic or mean pressure, mmHg: the smaller of wPress2 and wPress3 is the diastolic
  short wPress3 = 0;       // mean or diastolic pressure, mmHg: the larger is the mean arterial pressure
  short wPulseRate = 0;    // pulse, beats per minute
  short wAux1 = 0;         // a device value the record format carries (HID format 3), else 0
  short wFlagsHigh = 0;    // the high bits of the device's flags
  short wAux2 = 0;         // a second device value (HID format 3), else 0
  short wStatus = 0;       // the device's status code of the measurement
  BYTE byFlagsLow = 0;     // the low bits of the device's flags
  int nAux3 = 0;           // a third device value, where the family sends one
  int nMinuteOffset = 0;   // minutes after the set's start, where the family counts so
  int bValid = 1;  // 1 when wStatus is 0 or 3
  std::wstring strNote;    // a note; the library leaves it empty

  friend bool operator==(const _BP_RECORD&, const _BP_RECORD&) = default;
};

// One SpO2 sample.
struct _SPO2_RECORD {
  BYTE bySpO2 = 0;       // oxygen saturation, percent
  BYTE byPulseRate = 0;  // pulse, beats per minute
  int nTimeOffset = 0;   // seconds after the set's start (see CProtocol_NEW::PC_Download)

  friend bool operator==(const _SPO2_RECORD&, const _SPO2_RECORD&) = default;
};

// A downloaded set or store of blood-pressure measurements.
struct _BP_DATASET {
  _DATA_HEAD Head;                     // announced count and start
  std::vector<_BP_RECORD> vecRecords;  // the records that arrived, in the order they came

  friend bool operator==(const _BP_DATASET&, const _BP_DATASET&) = default;
};

// The downloaded SpO2 samples.
struct _SPO2_DATASET {
  _DATA_HEAD Head;                       // announced count and start
  std::vector<_SPO2_RECORD> vecRecords;  // the samples that arrived

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
  _BP_DATASET BPSet;        // layout A: set 1
  _BP_TRANSPORT_INFO Info;  // layout A: the plan and patient data read with it
  _BP_DATASET BPSet2;       // layout A: set 2 (type 1)
  _SPO2_DATASET SpO2Set;    // layout A: the SpO2 samples (type 3)
  _BP_DATASET ZoneSet1;     // layout B: store 1
  _BP_DATASET ZoneSet2;     // layout B: store 2
  _BP_DATASET ZoneSet3;     // layout B: store 3

  friend bool operator==(const _DOWNLOAD_DATAINFO&, const _DOWNLOAD_DATAINFO&) = default;
};
