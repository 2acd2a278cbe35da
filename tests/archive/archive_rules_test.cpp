// The archive's rules on their own: one rule for comparing labels, and the
// guard that keeps a device's readings from being erased unread. The doors
// that use them (upload, delete, filing, the filters) are tested through the
// program in study_program_test.cpp.

#include <bplink/archive/guard.h>
#include <bplink/archive/labels.h>
#include <gtest/gtest.h>

namespace {

using namespace bplink::archive;

TEST(LabelRule, CaseAndSpacingDoNotCountEverythingElseDoes) {
  for (const auto& [a, b] : std::vector<std::pair<std::string, std::string>>{
           {"Recorder 1", "recorder 1"},
           {"  recorder\t 1 ", "RECORDER 1"},
           {"K\xC3\x84THE", "k\xC3\xA4the"},  // Ä and ä
           {"MRN-40211", "mrn-40211"}})
    EXPECT_TRUE(SameLabel(a, b)) << a << " / " << b;
  for (const auto& [a, b] : std::vector<std::pair<std::string, std::string>>{
           {"Recorder 1", "Recorder 2"}, {"recorder1", "recorder 1"}, {"MRN-1", "MRN 1"}, {"\xC3\x97", "\xC3\xB7"}})
    EXPECT_FALSE(SameLabel(a, b)) << a << " / " << b;
  EXPECT_EQ(LabelKey("   "), "");
}

TEST(EraseGuard, TheFamilyTableSaysWhichUploadErasesAndEveryDeleteDoes) {
  for (const bplink::Family& family : bplink::Families()) {
    EXPECT_TRUE(Erases(family, Erasure::kDelete)) << family.name;
    EXPECT_EQ(Erases(family, Erasure::kUpload), family.name == "kv32") << family.name;
  }
}

TEST(EraseGuard, EveryReadingIsFetchedOnce) {
  tag_SUPPORT_PROTOCOL spo2_monitor{bplink::kDeviceWithSpO2, 7, 0, 0, 0};
  EXPECT_EQ(ModesHoldingEverything(spo2_monitor, std::vector<int>{1, 2}), std::vector<int>{2});
  tag_SUPPORT_PROTOCOL recorder{bplink::kDeviceAmbulatory, 1, 0, 0, 0};
  EXPECT_EQ(ModesHoldingEverything(recorder, std::vector<int>{1, 3}), (std::vector<int>{1, 3}));
  tag_SUPPORT_PROTOCOL stores{bplink::kDeviceThreeStores, 5, 0, 0, 0};
  EXPECT_EQ(ModesHoldingEverything(stores, std::vector<int>{4, 5, 6}), std::vector<int>{DATAMODE_ZONE_ALL});
}

// An archive that only records what is filed in it.
class FilingArchive : public Archive {
 public:
  bool fail = false;
  std::vector<std::string> filed;
  void CheckWritable() override {}
  std::vector<std::string> Warnings() const override { return {}; }
  StoreResult Store(const Download& d, const Actor&, std::string_view action) override {
    if (fail) throw ArchiveError("disk full");
    filed.emplace_back(action);
    return {static_cast<std::int64_t>(d.sets[0].set->vecRecords.size()), 0, 0, 0, {}, {}};
  }
  StudyEntry OpenStudy(const StudyRequest&, const Actor&) override { return {}; }
  StudyEntry StartRecording(std::int64_t, const Actor&) override { return {}; }
  std::optional<StudyEntry> OpenStudyOf(const DeviceIdentity&) override { return std::nullopt; }
  StudyEntry LoadStudy(std::int64_t) override { return {}; }
  std::vector<StudyEntry> Worklist(const WorklistFilter&) override { return {}; }
  MoveResult Move(std::int64_t, const PatientTarget&, const Actor&) override { return {}; }
  void MergePatients(std::int64_t, std::int64_t, const Actor&) override {}
  void AppendLog(const AuditEntry&, const Actor&) override {}
  std::vector<AuditEntry> Log(const AuditFilter&) override { return {}; }
  History Query(const Filter&) override { return {}; }
  PatientEntry Patient(std::int64_t) override { return {}; }
  DeviceEntry Device(std::int64_t) override { return {}; }
  StoredRecording Load(std::int64_t) override { return {}; }
  Engine engine() const override { return Engine::kSqlite; }
  std::string DatabaseRole() const override { return {}; }
  ReviewState ReviewOf(std::int64_t) override { return {}; }
  ReviewResult Review(std::int64_t, const bplink::report::ReviewInputs&, bool, const Actor&) override { return {}; }
  SignatureRecord Sign(std::int64_t, const std::string&, bool, const Actor&) override { return {}; }
  std::string SignedContentOf(std::int64_t) override { return {}; }
  std::optional<std::int64_t> PreviousRecording(std::int64_t) override { return std::nullopt; }
};

TEST(EraseGuard, ReadingsAreFiledFirstOrLostOnlyWhenThePersonSaidSo) {
  _BP_DATASET set;
  set.vecRecords.resize(5);
  _BP_DATASET empty;
  Download held;
  held.sets = {{DATAMODE_BP, &set}};
  Download nothing;
  nothing.sets = {{DATAMODE_BP, &empty}};
  const Actor actor{"technician", "desk 1", {}};

  try {
    ClearErasure(Erasure::kUpload, held, nullptr, false, actor);
    ADD_FAILURE() << "erased unread";
  } catch (const ErasureRefused& e) {
    EXPECT_EQ(e.held, 5);
    EXPECT_NE(std::string(e.what()).find("5 readings that the upload would erase unread"), std::string::npos);
  }
  EXPECT_TRUE(ClearErasure(Erasure::kDelete, held, nullptr, true, actor).discarded);
  EXPECT_EQ(ClearErasure(Erasure::kDelete, nothing, nullptr, false, actor).held, 0);

  FilingArchive archive;
  const ErasureCleared cleared = ClearErasure(Erasure::kDelete, held, &archive, false, actor);
  ASSERT_TRUE(cleared.filed);
  EXPECT_EQ(cleared.filed->readings, 5);
  EXPECT_FALSE(cleared.discarded);
  EXPECT_EQ(archive.filed, std::vector<std::string>{"file-before-delete"});
  // A filing that fails stops the erasure, even when loss was allowed.
  archive.fail = true;
  EXPECT_THROW(ClearErasure(Erasure::kUpload, held, &archive, true, actor), ArchiveError);
}

}  // namespace
