#include "pcapng.h"

#include <cstring>

#include "com.h"

namespace cvrtool {
namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A, kInterface = 1, kObsoletePacket = 2,
                   kSimplePacket = 3, kEnhancedPacket = 6, kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kOptEnd = 0, kOptComment = 1, kIfName = 2, kIfTsresol = 9, kShbUserAppl = 4;

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  const size_t at = b.size();
  b.resize(at + 4);
  std::memcpy(&b[at], &v, 4);  // host order: the byte-order magic says which
}
void Put16(std::vector<uint8_t>& b, uint16_t v) {
  const size_t at = b.size();
  b.resize(at + 2);
  std::memcpy(&b[at], &v, 2);
}
void PutOption(std::vector<uint8_t>& b, uint16_t code, const void* value, size_t size) {
  Put16(b, code);
  Put16(b, static_cast<uint16_t>(size));
  const auto* bytes = static_cast<const uint8_t*>(value);
  b.insert(b.end(), bytes, bytes + size);
  b.resize((b.size() + 3) & ~size_t{3}, 0);
}
// Type, total length before and after the body (padded to 4), as a block.
std::vector<uint8_t> Frame(uint32_t type, std::vector<uint8_t> body) {
  body.resize((body.size() + 3) & ~size_t{3}, 0);
  std::vector<uint8_t> b;
  const auto total = static_cast<uint32_t>(body.size() + 12);
  Put32(b, type);
  Put32(b, total);
  b.insert(b.end(), body.begin(), body.end());
  Put32(b, total);
  return b;
}

}  // namespace

PcapngWriter::PcapngWriter(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
  if (!file_) throw ToolError("cannot create " + path);
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  std::vector<uint8_t> body;
  Put32(body, kByteOrderMagic);
  Put16(body, 1);
  Put16(body, 0);
  Put32(body, 0xFFFFFFFF);  // section length not given
  Put32(body, 0xFFFFFFFF);
  const std::string app = "cvrtool";
  PutOption(body, kShbUserAppl, app.data(), app.size());
  PutOption(body, kOptEnd, nullptr, 0);
  Write(Frame(kSectionHeader, body));
}

PcapngWriter::~PcapngWriter() {
  if (file_) std::fclose(file_);
}

void PcapngWriter::Write(const std::vector<uint8_t>& block) {
  if (std::fwrite(block.data(), 1, block.size(), file_) != block.size()) {
    throw ToolError("writing " + path_ + " failed (disk full?)");
  }
}

void PcapngWriter::Packet(uint8_t conn, uint64_t stamp, const uint8_t* data, size_t size,
                          const std::string& comment) {
  auto it = interfaces_.find(conn);
  if (it == interfaces_.end()) {
    std::vector<uint8_t> body;
    Put16(body, kLinkTypeUser0);
    Put16(body, 0);
    Put32(body, 0);  // no snap length
    const std::string name = "cvr:" + std::to_string(conn);
    PutOption(body, kIfName, name.data(), name.size());
    const uint8_t nanoseconds = 9;
    PutOption(body, kIfTsresol, &nanoseconds, 1);
    PutOption(body, kOptEnd, nullptr, 0);
    Write(Frame(kInterface, body));
    it = interfaces_.emplace(conn, static_cast<uint32_t>(interfaces_.size())).first;
  }
  // Made in place in a reused buffer, the lengths filled in at the end.
  std::vector<uint8_t>& b = block_;
  b.clear();
  Put32(b, kEnhancedPacket);
  Put32(b, 0);
  Put32(b, it->second);
  Put32(b, static_cast<uint32_t>(stamp >> 32));
  Put32(b, static_cast<uint32_t>(stamp));
  Put32(b, static_cast<uint32_t>(size));
  Put32(b, static_cast<uint32_t>(size));
  b.insert(b.end(), data, data + size);
  b.resize((b.size() + 3) & ~size_t{3}, 0);
  if (!comment.empty()) {
    PutOption(b, kOptComment, comment.data(), comment.size());
    PutOption(b, kOptEnd, nullptr, 0);
  }
  const auto total = static_cast<uint32_t>(b.size() + 4);
  std::memcpy(&b[4], &total, 4);
  Put32(b, total);
  Write(b);
}

void PcapngWriter::Close() {
  FILE* f = file_;
  file_ = nullptr;
  if (std::fclose(f) != 0) throw ToolError("writing " + path_ + " failed (disk full?)");
}

CaptureReader::CaptureReader(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "rb")) {
  if (!file_) throw ToolError("cannot open " + path);
  std::fseek(file_, 0, SEEK_END);
  size_ = std::ftell(file_);
  std::fseek(file_, 0, SEEK_SET);
  uint32_t magic = 0;
  if (!Read(&magic, 4)) throw ToolError(path + " is too short for a packet capture");
  if (magic == kSectionHeader) {
    pcapng_ = true;
    ReadSectionHeader(magic);
    return;
  }
  uint8_t m[4];
  std::memcpy(m, &magic, 4);
  const uint32_t big = uint32_t{m[0]} << 24 | m[1] << 16 | m[2] << 8 | m[3];
  const uint32_t little = uint32_t{m[3]} << 24 | m[2] << 16 | m[1] << 8 | m[0];
  if (big == 0xA1B2C3D4 || big == 0xA1B23C4D) {
    swapped_ = true;  // read as big-endian
    pcap_per_second_ = big == 0xA1B23C4D ? 1000000000 : 1000000;
  } else if (little == 0xA1B2C3D4 || little == 0xA1B23C4D) {
    swapped_ = false;
    pcap_per_second_ = little == 0xA1B23C4D ? 1000000000 : 1000000;
  } else {
    throw ToolError(path + " is neither pcap nor pcapng");
  }
  uint8_t rest[20];
  if (!Read(rest, sizeof rest)) throw ToolError(path + ": pcap header cut short");
  Interface i;
  i.link_type = static_cast<uint16_t>(U32(rest + 16) & 0xFFFF);
  i.units_per_second = pcap_per_second_;
  interfaces_.push_back(i);
}

CaptureReader::~CaptureReader() {
  if (file_) std::fclose(file_);
}

bool CaptureReader::Read(void* to, size_t n) {
  if (n == 0) return true;
  const size_t got = std::fread(to, 1, n, file_);
  position_ += static_cast<int64_t>(got);
  return got == n;
}

// swapped_: the file is big-endian. Values are assembled bytewise, so the
// host's order does not matter.
uint16_t CaptureReader::U16(const uint8_t* p) const {
  return swapped_ ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}
uint32_t CaptureReader::U32(const uint8_t* p) const {
  return swapped_ ? uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]
                  : uint32_t{p[3]} << 24 | p[2] << 16 | p[1] << 8 | p[0];
}

uint64_t CaptureReader::ToNanoseconds(uint64_t units, uint64_t per_second) const {
  if (per_second == 1000000000) return units;
  const uint64_t seconds = units / per_second, rest = units % per_second;
  return seconds * 1000000000 + rest * 1000000000 / per_second;
}

void CaptureReader::ReadSectionHeader(uint32_t) {
  uint8_t head[8];  // total length, byte-order magic
  if (!Read(head, sizeof head)) throw ToolError(path_ + ": section header cut short");
  swapped_ = !(head[4] == 0x4D && head[5] == 0x3C);
  if (U32(head + 4) != kByteOrderMagic) throw ToolError(path_ + ": section header without byte-order magic");
  const uint32_t total = U32(head);
  if (total < 28 || total % 4) throw ToolError(path_ + ": section header of length " + std::to_string(total));
  std::vector<uint8_t> rest(total - 12);
  if (!Read(rest.data(), rest.size())) throw ToolError(path_ + ": section header cut short");
  interfaces_.clear();  // a new section declares its own interfaces
}

void CaptureReader::ReadInterface(const std::vector<uint8_t>& body) {
  if (body.size() < 8) throw ToolError(path_ + ": interface block cut short");
  Interface i;
  i.link_type = U16(body.data());
  i.units_per_second = 1000000;
  for (size_t at = 8; at + 4 <= body.size();) {
    const uint16_t code = U16(&body[at]), length = U16(&body[at + 2]);
    if (code == kOptEnd || at + 4 + length > body.size()) break;
    const uint8_t* value = &body[at + 4];
    if (code == kIfTsresol && length >= 1) {
      const uint8_t r = value[0];
      const unsigned exponent = r & 0x7F;
      if (exponent > 18 && !(r & 0x80)) throw ToolError(path_ + ": time resolution 10^-" + std::to_string(exponent));
      if ((r & 0x80) && exponent > 63) throw ToolError(path_ + ": time resolution 2^-" + std::to_string(exponent));
      uint64_t per = 1;
      for (unsigned k = 0; k < exponent; ++k) per *= (r & 0x80) ? 2 : 10;
      i.units_per_second = per;
    } else if (code == kIfName) {
      i.ours = std::string(reinterpret_cast<const char*>(value), length).rfind("cvr:", 0) == 0;
    }
    at += 4 + ((length + 3u) & ~3u);
  }
  i.ours = i.ours && i.link_type == kLinkTypeUser0;
  interfaces_.push_back(i);
}

bool CaptureReader::Next(Packet* packet) {
  Packet& p = *packet;
  p.comment.clear();
  p.has_stamp = true;
  if (!pcapng_) {
    uint8_t head[16];
    const int64_t at = position_;
    if (!Read(head, sizeof head)) {
      if (position_ == at) return false;
      throw ToolError(path_ + ": packet header cut short at offset " + std::to_string(at));
    }
    const uint32_t captured = U32(head + 8);
    if (captured > size_ - position_) throw ToolError(path_ + ": packet at offset " + std::to_string(at) + " cut short");
    p.iface = 0;
    p.stamp = uint64_t{U32(head)} * 1000000000 + ToNanoseconds(U32(head + 4), pcap_per_second_);
    p.data.resize(captured);
    if (!Read(p.data.data(), captured)) throw ToolError(path_ + ": packet cut short");
    p.ours = false;
    return true;
  }
  for (;;) {
    uint8_t head[8];
    const int64_t at = position_;
    if (!Read(head, sizeof head)) {
      if (position_ == at) return false;
      throw ToolError(path_ + ": block header cut short at offset " + std::to_string(at));
    }
    uint32_t type;
    std::memcpy(&type, head, 4);
    if (type == kSectionHeader) {
      std::fseek(file_, -4, SEEK_CUR);
      position_ -= 4;
      ReadSectionHeader(type);
      continue;
    }
    type = U32(head);
    const uint32_t total = U32(head + 4);
    if (total < 12 || total % 4 || total - 8 > size_ - position_) {
      throw ToolError(path_ + ": block at offset " + std::to_string(at) + " has length " + std::to_string(total));
    }
    std::vector<uint8_t> body(total - 12);
    uint8_t trailer[4];
    if (!Read(body.data(), body.size()) || !Read(trailer, 4)) throw ToolError(path_ + ": block cut short");
    if (type == kInterface) {
      ReadInterface(body);
      continue;
    }
    if (type != kEnhancedPacket && type != kSimplePacket && type != kObsoletePacket) continue;
    size_t data_at = 20;
    uint32_t captured = 0;
    if (type == kSimplePacket) {
      if (body.size() < 4) throw ToolError(path_ + ": packet block cut short");
      p.iface = 0;
      p.has_stamp = false;
      p.stamp = 0;
      data_at = 4;
      captured = static_cast<uint32_t>(body.size() - 4);
      const uint32_t original = U32(body.data());
      if (original < captured) captured = original;
    } else {
      if (body.size() < 20) throw ToolError(path_ + ": packet block cut short");
      p.iface = type == kObsoletePacket ? U16(body.data()) : U32(body.data());
      const uint64_t units = uint64_t{U32(&body[4])} << 32 | U32(&body[8]);
      captured = U32(&body[12]);
      if (captured > body.size() - 20) throw ToolError(path_ + ": packet data cut short at offset " + std::to_string(at));
      if (p.iface >= interfaces_.size()) throw ToolError(path_ + ": packet on undeclared interface " + std::to_string(p.iface));
      p.stamp = ToNanoseconds(units, interfaces_[p.iface].units_per_second);
    }
    if (p.iface >= interfaces_.size()) throw ToolError(path_ + ": packet before any interface");
    p.ours = interfaces_[p.iface].ours;
    p.data.assign(body.begin() + static_cast<ptrdiff_t>(data_at), body.begin() + static_cast<ptrdiff_t>(data_at + captured));
    if (type != kSimplePacket) {
      for (size_t o = (data_at + captured + 3) & ~size_t{3}; o + 4 <= body.size();) {
        const uint16_t code = U16(&body[o]), length = U16(&body[o + 2]);
        if (code == kOptEnd || o + 4 + length > body.size()) break;
        if (code == kOptComment) p.comment.assign(reinterpret_cast<const char*>(&body[o + 4]), length);
        o += 4 + ((length + 3u) & ~3u);
      }
    }
    return true;
  }
}

}  // namespace cvrtool
