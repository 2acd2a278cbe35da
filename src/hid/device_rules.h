// What a HID device holds, by device type, identity byte and version byte.
//
// The transfers of a session depend on these conditions; keeping them in one
// place keeps the download and upload chains in step with each other.
#pragma once

#include <bplink/codes.h>
#include <bplink/wintypes.h>

namespace bplink::hid {

// Ambulatory recorders with these identity bytes keep one set and, when
// their flags byte does not say otherwise, no plan (variant 1).
inline constexpr BYTE kSingleSetRecorderFirst = 0x03;
inline constexpr BYTE kSingleSetRecorderLast = 0x04;
inline constexpr int kVariantNoPlan = 1;
inline constexpr int kVariantWithPlan = 2;

// The identity bytes of the ambulatory recorders, which expect the
// end-of-session frame after an upload.
inline constexpr BYTE kRecorderIdentityFirst = 0x01;
inline constexpr BYTE kRecorderIdentityLast = 0x0F;

// Version thresholds of the optional transfers.
inline constexpr int kVersionAlarmLimits = 2;    // type 4: alarm limits from this version byte
inline constexpr int kVersionWarnSwitch = 4;     // types 1 and 3: the alarm switch value
inline constexpr int kVersionPatientInfo = 5;    // type 1: the patient block

constexpr bool IsSingleSetRecorder(BYTE identity) {
  return identity >= kSingleSetRecorderFirst && identity <= kSingleSetRecorderLast;
}

constexpr bool IsRecorderIdentity(BYTE identity) {
  return identity >= kRecorderIdentityFirst && identity <= kRecorderIdentityLast;
}

constexpr bool HoldsAlarmLimits(int deviceType, BYTE versionByte) {
  return deviceType == kDeviceType2 ||
         (deviceType == kDeviceType4 && versionByte >= kVersionAlarmLimits);
}

constexpr bool HoldsWarnSwitch(int deviceType, int version) {
  return (deviceType == kDeviceAmbulatory || deviceType == kDeviceWithSpO2) &&
         version >= kVersionWarnSwitch;
}

constexpr bool HoldsPatientInfo(int deviceType, int version) {
  return deviceType == kDeviceAmbulatory && version >= kVersionPatientInfo;
}

// Recorders keep a table of the intervals they accept from version byte 3
// on, except version 6, and type 2 devices always; the interval query then
// reads the device's plan with it. The others accept a fixed list, and the
// query reads no plan.
inline constexpr int kRecorderTableVersion = 3;
inline constexpr int kRecorderVersionWithoutTable = 6;

constexpr bool KeepsIntervalTable(int deviceType, int version) {
  if (deviceType == kDeviceType2) return true;
  return deviceType == kDeviceAmbulatory && version >= kRecorderTableVersion &&
         version != kRecorderVersionWithoutTable;
}

}  // namespace bplink::hid
