// idl/corvane.idl is the source of the Windows declarations; the non-Windows
// branch of include/corvane/corvane.h repeats them by hand. Any difference a
// client could notice fails here.
#include <gtest/gtest.h>

#include <set>

#include "idl/idl_model.h"

namespace corvane::test {
namespace {

const Model& idl = IdlModel();
const Model& header = HeaderModel();

TEST(IdlHeaderAgreement, InterfacesAgreeSlotBySlotWithTheirParameters) {
  // The parsers found every interface (methods besides those of IUnknown).
  const std::vector<std::pair<std::string, size_t>> expected = {
      {"ICorvane", 8}, {"ILogFile", 7}, {"ILogFile2", 24}};
  ASSERT_EQ(idl.interfaces.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(idl.interfaces[i].name, expected[i].first);
    EXPECT_EQ(idl.interfaces[i].base, "IUnknown");
    EXPECT_EQ(idl.interfaces[i].methods.size(), expected[i].second) << expected[i].first;
  }
  ASSERT_EQ(header.interfaces.size(), expected.size());
  for (const Interface& in_idl : idl.interfaces) {
    const Interface* in_header = Find(header.interfaces, in_idl.name);
    ASSERT_NE(in_header, nullptr) << in_idl.name;
    EXPECT_EQ(in_header->base, in_idl.base);
    ASSERT_EQ(in_idl.methods.size(), in_header->methods.size()) << in_idl.name;
    for (size_t slot = 0; slot < in_idl.methods.size(); ++slot) {
      const Method& a = in_idl.methods[slot];
      const Method& b = in_header->methods[slot];
      SCOPED_TRACE(in_idl.name + "::" + a.name + " (slot " + std::to_string(slot + 3) + ")");
      EXPECT_EQ(a.name, b.name);
      ASSERT_EQ(a.params.size(), b.params.size());
      for (size_t k = 0; k < a.params.size(); ++k) {
        EXPECT_EQ(a.params[k].name, b.params[k].name) << k;
        EXPECT_EQ(a.params[k].type, b.params[k].type) << a.params[k].name;
        EXPECT_EQ(a.params[k].pointers, b.params[k].pointers) << a.params[k].name;
      }
    }
  }
}

// Marshaling needs sensible directions: out-parameters are pointers, retval
// comes last, every buffer is sized by an [in] ULONG of the same method, and
// 64-bit positions are unsigned in ILogFile, signed in ILogFile2.
TEST(IdlHeaderAgreement, IdlDirectionsSizesAndPositionTypesAreConsistent) {
  std::set<std::string> sized;
  for (const Interface& iface : idl.interfaces) {
    EXPECT_FALSE(iface.help.empty()) << iface.name;
    for (const Method& m : iface.methods) {
      SCOPED_TRACE(iface.name + "::" + m.name);
      EXPECT_FALSE(m.help.empty());
      for (size_t k = 0; k < m.params.size(); ++k) {
        const Param& p = m.params[k];
        EXPECT_TRUE(p.in || p.out) << p.name;
        EXPECT_TRUE(!p.out || p.pointers >= 1) << p.name;
        EXPECT_TRUE(!p.retval || (p.out && k + 1 == m.params.size())) << p.name;
        if (p.type == "LONGLONG" || p.type == "ULONGLONG") {
          EXPECT_EQ(p.type, iface.name == "ILogFile" ? "ULONGLONG" : "LONGLONG") << p.name;
          EXPECT_NE(iface.name, "ICorvane");
        }
        if (p.size_is.empty()) continue;
        sized.insert(iface.name + "::" + m.name + "." + p.name);
        const Param* size = Find(m.params, p.size_is);
        ASSERT_NE(size, nullptr) << "size_is(" << p.size_is << ")";
        EXPECT_TRUE(size->in && !size->out && size->pointers == 0 && size->type == "ULONG");
      }
    }
  }
  EXPECT_EQ(sized, (std::set<std::string>{
                       "ICorvane::WriteBlock.pbyData", "ICorvane::ReadBlockData.pbyData",
                       "ILogFile::ReadBlockHeader.pbyStructBlockHeader",
                       "ILogFile::ReadBlockData.pbyData", "ILogFile::WriteBlock.pStructBlockHeader",
                       "ILogFile::WriteBlock.pbyData",
                       "ILogFile2::ReadBlockHeader.pbyStructBlockHeader",
                       "ILogFile2::ReadBlockData.pbyData",
                       "ILogFile2::WriteBlock.pStructBlockHeader", "ILogFile2::WriteBlock.pbyData"}));
}

TEST(IdlHeaderAgreement, EnumerationsHaveTheSameConstantsAndValues) {
  ASSERT_EQ(idl.enums.size(), 6u);
  ASSERT_EQ(header.enums.size(), idl.enums.size());
  for (const Enumeration& a : idl.enums) {
    EXPECT_FALSE(a.help.empty()) << a.name;
    const Enumeration* b = Find(header.enums, a.name);
    ASSERT_NE(b, nullptr) << a.name;
    ASSERT_EQ(a.constants.size(), b->constants.size()) << a.name;
    for (size_t i = 0; i < a.constants.size(); ++i) {
      EXPECT_EQ(a.constants[i].name, b->constants[i].name) << a.name;
      EXPECT_EQ(a.constants[i].value, b->constants[i].value) << a.constants[i].name;
    }
  }
}

TEST(IdlHeaderAgreement, LogBlockHeaderHasTheSameFields) {
  ASSERT_EQ(idl.block_header.size(), 7u);
  ASSERT_EQ(header.block_header.size(), idl.block_header.size());
  for (size_t i = 0; i < idl.block_header.size(); ++i) {
    EXPECT_EQ(header.block_header[i].name, idl.block_header[i].name);
    EXPECT_EQ(header.block_header[i].type, idl.block_header[i].type) << idl.block_header[i].name;
  }
}

// The IDL's uuids, the Linux constants and the Windows branch's definitions.
TEST(IdlHeaderAgreement, IdentifiersAreTheSameInAllThreePlaces) {
  const std::vector<std::string> names = {"IID_ICorvane",  "IID_ILogFile",  "IID_ILogFile2",
                                          "CLSID_Corvane", "CLSID_LogFile", "CLSID_LogFile2",
                                          "LIBID_KRVCmnCorvaneLib"};
  EXPECT_EQ(idl.guids.size(), names.size());
  for (const std::string& name : names) {
    ASSERT_EQ(idl.guids.count(name), 1u) << name;
    ASSERT_EQ(header.guids.count(name), 1u) << name;
    ASSERT_EQ(header.guids.count("win:" + name), 1u) << name;
    EXPECT_EQ(idl.guids.at(name), header.guids.at(name)) << name;
    EXPECT_EQ(idl.guids.at(name), header.guids.at("win:" + name)) << name;
  }
}

}  // namespace
}  // namespace corvane::test
