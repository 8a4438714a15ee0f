// idl/corvane.idl is the source of the Windows declarations; the non-Windows
// branch of include/corvane/corvane.h repeats them by hand. These tests read
// both texts and fail on any difference a client could notice: slots,
// parameters, types, enumeration values, the block header and identifiers.
#include <gtest/gtest.h>

#include <set>

#include "idl/idl_model.h"

namespace corvane::test {
namespace {

class IdlHeaderAgreement : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    idl_ = new Model(ParseIdl(ReadTextFile(CORVANE_SOURCE_DIR "/idl/corvane.idl")));
    header_ = new Model(ParseHeader(ReadTextFile(CORVANE_SOURCE_DIR "/include/corvane/corvane.h")));
  }
  static void TearDownTestSuite() {
    delete idl_;
    delete header_;
  }

  static const Interface* Find(const Model& m, const std::string& name) {
    for (const Interface& i : m.interfaces) {
      if (i.name == name) return &i;
    }
    return nullptr;
  }

  static Model* idl_;
  static Model* header_;
};

Model* IdlHeaderAgreement::idl_ = nullptr;
Model* IdlHeaderAgreement::header_ = nullptr;

// Methods besides the three of IUnknown.
TEST_F(IdlHeaderAgreement, InterfacesHaveTheirSlotCountsAndDeriveFromIUnknown) {
  const std::vector<std::pair<std::string, size_t>> expected = {
      {"ICorvane", 8}, {"ILogFile", 7}, {"ILogFile2", 24}};
  for (const Model* m : {idl_, header_}) {
    ASSERT_EQ(m->interfaces.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(m->interfaces[i].name, expected[i].first);
      EXPECT_EQ(m->interfaces[i].base, "IUnknown") << m->interfaces[i].name;
      EXPECT_EQ(m->interfaces[i].methods.size(), expected[i].second) << m->interfaces[i].name;
    }
  }
}

TEST_F(IdlHeaderAgreement, MethodsAgreeSlotBySlotWithTheirParameters) {
  for (const Interface& in_idl : idl_->interfaces) {
    const Interface* in_header = Find(*header_, in_idl.name);
    ASSERT_NE(in_header, nullptr) << in_idl.name;
    ASSERT_EQ(in_idl.methods.size(), in_header->methods.size()) << in_idl.name;
    for (size_t slot = 0; slot < in_idl.methods.size(); ++slot) {
      const Method& a = in_idl.methods[slot];
      const Method& b = in_header->methods[slot];
      const std::string where = in_idl.name + "::" + a.name + " (slot " + std::to_string(slot + 3) + ")";
      EXPECT_EQ(a.name, b.name) << where;
      ASSERT_EQ(a.params.size(), b.params.size()) << where;
      for (size_t k = 0; k < a.params.size(); ++k) {
        EXPECT_EQ(a.params[k].name, b.params[k].name) << where << " parameter " << k;
        EXPECT_EQ(a.params[k].type, b.params[k].type) << where << " " << a.params[k].name;
        EXPECT_EQ(a.params[k].pointers, b.params[k].pointers) << where << " " << a.params[k].name;
      }
    }
  }
}

// The directions must make sense for marshaling: out-parameters are pointers,
// retval is the last one, and every buffer is sized by an [in] 32-bit
// parameter of the same method.
TEST_F(IdlHeaderAgreement, IdlDirectionsAndSizeAttributesAreConsistent) {
  std::set<std::string> sized;
  for (const Interface& iface : idl_->interfaces) {
    EXPECT_FALSE(iface.help.empty()) << iface.name;
    for (const Method& m : iface.methods) {
      const std::string where = iface.name + "::" + m.name;
      EXPECT_FALSE(m.help.empty()) << where;
      for (size_t k = 0; k < m.params.size(); ++k) {
        const Param& p = m.params[k];
        EXPECT_TRUE(p.in || p.out) << where << " " << p.name;
        if (p.out) {
          EXPECT_GE(p.pointers, 1) << where << " " << p.name;
        }
        if (p.retval) {
          EXPECT_TRUE(p.out) << where;
          EXPECT_EQ(k, m.params.size() - 1) << where;
        }
        if (!p.size_is.empty()) {
          sized.insert(where + "." + p.name);
          bool found = false;
          for (const Param& q : m.params) {
            if (q.name == p.size_is) {
              found = true;
              EXPECT_TRUE(q.in && !q.out && q.pointers == 0 && q.type == "ULONG")
                  << where << " " << p.size_is;
            }
          }
          EXPECT_TRUE(found) << where << " size_is(" << p.size_is << ")";
        }
      }
    }
  }
  // Every byte buffer of the three interfaces.
  EXPECT_EQ(sized, (std::set<std::string>{
                       "ICorvane::WriteBlock.pbyData", "ICorvane::ReadBlockData.pbyData",
                       "ILogFile::ReadBlockHeader.pbyStructBlockHeader",
                       "ILogFile::ReadBlockData.pbyData", "ILogFile::WriteBlock.pStructBlockHeader",
                       "ILogFile::WriteBlock.pbyData",
                       "ILogFile2::ReadBlockHeader.pbyStructBlockHeader",
                       "ILogFile2::ReadBlockData.pbyData",
                       "ILogFile2::WriteBlock.pStructBlockHeader", "ILogFile2::WriteBlock.pbyData"}));
}

TEST_F(IdlHeaderAgreement, PositionsAreUnsignedInILogFileAndSignedInILogFile2) {
  for (const Interface& iface : idl_->interfaces) {
    for (const Method& m : iface.methods) {
      for (const Param& p : m.params) {
        if (p.type != "LONGLONG" && p.type != "ULONGLONG") continue;
        EXPECT_EQ(p.type, iface.name == "ILogFile" ? "ULONGLONG" : "LONGLONG")
            << iface.name << "::" << m.name << " " << p.name;
        EXPECT_NE(iface.name, "ICorvane") << m.name;
      }
    }
  }
}

TEST_F(IdlHeaderAgreement, EnumerationsHaveTheSameConstantsAndValues) {
  ASSERT_EQ(idl_->enums.size(), 6u);
  ASSERT_EQ(header_->enums.size(), idl_->enums.size());
  for (const Enumeration& a : idl_->enums) {
    EXPECT_FALSE(a.help.empty()) << a.name;
    const Enumeration* b = nullptr;
    for (const Enumeration& e : header_->enums) {
      if (e.name == a.name) b = &e;
    }
    ASSERT_NE(b, nullptr) << a.name;
    ASSERT_EQ(a.constants.size(), b->constants.size()) << a.name;
    for (size_t i = 0; i < a.constants.size(); ++i) {
      EXPECT_EQ(a.constants[i].name, b->constants[i].name) << a.name;
      EXPECT_EQ(a.constants[i].value, b->constants[i].value) << a.constants[i].name;
    }
  }
}

TEST_F(IdlHeaderAgreement, ResultCodesAreNegativeThirtyTwoBitValuesWithTheirGap) {
  const Enumeration* codes = nullptr;
  for (const Enumeration& e : idl_->enums) {
    if (e.name == "CORVANE_ERROR_RESULTS") codes = &e;
  }
  ASSERT_NE(codes, nullptr);
  ASSERT_EQ(codes->constants.size(), 28u);
  EXPECT_EQ(codes->constants.front().value, static_cast<int32_t>(0x80043000u));
  EXPECT_EQ(codes->constants.back().value, static_cast<int32_t>(0x8004301Cu));
  for (const Constant& c : codes->constants) {
    EXPECT_NE(c.value, static_cast<int32_t>(0x80043011u)) << c.name;  // no code has this value
    EXPECT_LT(c.value, 0) << c.name;
  }
}

TEST_F(IdlHeaderAgreement, LogBlockHeaderHasTheSameFields) {
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"wBlockID", "USHORT"},       {"byConnID", "BYTE"},      {"byTimeStampMode", "BYTE"},
      {"dwReserved1", "ULONG"},     {"qwTimeStamp", "ULONGLONG"}, {"dwDataLength", "ULONG"},
      {"dwReserved2", "ULONG"}};
  for (const Model* m : {idl_, header_}) {
    ASSERT_EQ(m->block_header.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(m->block_header[i].name, expected[i].first);
      EXPECT_EQ(m->block_header[i].type, expected[i].second) << expected[i].first;
    }
  }
}

// The IDL's uuids, the hand-written Linux constants and the Windows branch's
// selectany definitions name the same seven identifiers with the same values.
TEST_F(IdlHeaderAgreement, IdentifiersAreTheSameInAllThreePlaces) {
  const std::vector<std::string> names = {"IID_ICorvane",  "IID_ILogFile",   "IID_ILogFile2",
                                          "CLSID_Corvane", "CLSID_LogFile",  "CLSID_LogFile2",
                                          "LIBID_KRVCmnCorvaneLib"};
  EXPECT_EQ(idl_->guids.size(), names.size());
  for (const std::string& name : names) {
    ASSERT_EQ(idl_->guids.count(name), 1u) << name;
    ASSERT_EQ(header_->guids.count(name), 1u) << name;
    ASSERT_EQ(header_->guids.count("win:" + name), 1u) << name;
    EXPECT_EQ(idl_->guids[name], header_->guids[name]) << name;
    EXPECT_EQ(idl_->guids[name], header_->guids["win:" + name]) << name;
  }
}

}  // namespace
}  // namespace corvane::test
