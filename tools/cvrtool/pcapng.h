// Packet captures: a pcapng writer, and a reader of pcapng and of the older
// pcap format (both byte orders, micro- and nanosecond resolution).
//
// The pcapng that export writes (documented in docs/formats.md): one section,
// one interface per connection id (LINKTYPE_USER0, if_tsresol 9, if_name
// "cvr:N"), and one Enhanced Packet Block per record whose packet data start
// with a 16-byte pseudo-header:
//
//   +----------+------+------+------+----------+------------------+
//   | block id | conn | mode | kind | reserved | message number   |
//   | 2, BE    | 1    | 1    | 1    | 3, zero  | 8, BE            |
//   +----------+------+------+------+----------+------------------+
//
// kind: 0 a block of its own, 1 first and 2 further message of a bulk block,
// 3 not known, 4 a bookmark (no data; its comment in opt_comment).
#ifndef CVRTOOL_PCAPNG_H_
#define CVRTOOL_PCAPNG_H_

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace cvrtool {

constexpr uint16_t kLinkTypeUser0 = 147;
constexpr size_t kPseudoHeaderLength = 16;
enum PacketKind : uint8_t { kKindBlock, kKindBulkFirst, kKindBulkNext, kKindUnknown, kKindBookmark };

class PcapngWriter {
 public:
  // Creates `path` and writes the section header; throws ToolError.
  explicit PcapngWriter(const std::string& path);
  ~PcapngWriter();
  PcapngWriter(const PcapngWriter&) = delete;
  PcapngWriter& operator=(const PcapngWriter&) = delete;

  // One packet on interface "cvr:`conn`" (declared on first use), stamp in
  // nanoseconds, an optional comment.
  void Packet(uint8_t conn, uint64_t stamp, const uint8_t* data, size_t size,
              const std::string& comment);
  void Close();

 private:
  void Write(const std::vector<uint8_t>& block);
  std::string path_;
  std::vector<uint8_t> block_;  // the packet block being made, reused
  FILE* file_;
  std::map<uint8_t, uint32_t> interfaces_;  // connection -> interface id
};

struct Packet {
  uint32_t iface = 0;  // interface number ("interface" is a macro on Windows)
  uint64_t stamp = 0;  // nanoseconds
  bool has_stamp = true;
  std::vector<uint8_t> data;
  std::string comment;
  bool ours = false;  // on an interface that export wrote ("cvr:N", LINKTYPE_USER0)
};

// Reads pcap or pcapng, packet by packet; throws ToolError on damage.
class CaptureReader {
 public:
  explicit CaptureReader(const std::string& path);
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  bool Next(Packet* packet);
  const char* format() const { return pcapng_ ? "pcapng" : "pcap"; }
  int64_t position() const { return position_; }
  int64_t size() const { return size_; }

 private:
  struct Interface {
    uint16_t link_type = 0;
    uint64_t units_per_second = 1000000;
    bool ours = false;
  };
  bool Read(void* to, size_t n);
  uint16_t U16(const uint8_t* p) const;
  uint32_t U32(const uint8_t* p) const;
  uint64_t ToNanoseconds(uint64_t units, uint64_t per_second) const;
  void ReadSectionHeader(uint32_t type_as_read);
  void ReadInterface(const std::vector<uint8_t>& body);

  std::string path_;
  FILE* file_;
  bool pcapng_ = false, swapped_ = false;
  uint64_t pcap_per_second_ = 1000000;
  std::vector<Interface> interfaces_;
  int64_t position_ = 0, size_ = 0;
};

}  // namespace cvrtool

#endif  // CVRTOOL_PCAPNG_H_
