// A general ISO 8211 reader: a module held in memory is read as the standard lays it out. The
// data descriptive record (leader 'L') describes each field: its controls, its name, the labels
// of its subfields and their formats. Each data record (leader 'D', or 'R' when the records after
// it are field areas alone) has a directory that says where each field lies. Subfields are then
// found by field tag and label and read as text, integer or real.
//
// Every length and offset taken from the bytes is checked against what remains before it is used,
// and every count is capped before anything is allocated: a damaged module gives one line saying
// what is wrong and where, never a read outside the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace marlwood::iso8211 {

inline constexpr char kFieldTerminator = '\x1e';
inline constexpr char kUnitTerminator = '\x1f';
inline constexpr std::size_t kLeaderBytes = 24;
// The file control field's tag.
inline constexpr std::string_view kFileControlTag = "0000";
// The most subfields a field description may give, repeats expanded; SDTS fields have a dozen.
inline constexpr std::size_t kMaxSubfields = 1024;
// The deepest nesting of parenthesised format groups, so hostile text cannot exhaust the stack.
inline constexpr std::size_t kMaxFormatDepth = 8;

// ---- Format controls

enum class Binary { None, Unsigned, Signed, Float };

// The format of one subfield: A (text), I (integer), R or S (real), C (text), B(n) (n bits, a
// big-endian signed integer, as SDTS cell values are) or bTW (W bytes, little-endian: T 1
// unsigned, 2 signed, 4 IEEE float).
struct SubfieldFormat {
    char code = 'A';
    std::size_t width = 0;  // bytes; 0: variable, ended by a unit or field terminator
    Binary binary = Binary::None;

    bool operator==(const SubfieldFormat&) const = default;
};

// "(A,I,4A,6R)" or "(A(4),3I(5))" or "(B(16))", repeats and nested groups expanded in order.
// Empty text (fields that hold no subfields) gives no formats.
Result<std::vector<SubfieldFormat>> parseFormatControls(std::string_view text);

// ---- Leader and directory

struct Leader {
    std::size_t record_length = 0;
    char leader_id = ' ';                  // 'L' in the descriptive record, else 'D' or 'R'
    std::size_t field_control_length = 0;  // descriptive record only
    std::size_t base_address = 0;          // where the field area starts
    std::size_t length_width = 0;          // digits of a directory entry's field length
    std::size_t position_width = 0;        // digits of its field position
    std::size_t tag_width = 0;
};

// The leader at the start of `bytes`: of the descriptive record when `descriptive`, else of a
// data record. Checks that its numbers are digits and agree with each other, not that the record
// fits in `bytes`.
Result<Leader> parseLeader(std::string_view bytes, bool descriptive);

struct DirectoryEntry {
    std::string tag;
    std::size_t length = 0;    // bytes, field terminator included; at least 1
    std::size_t position = 0;  // from the start of the field area
};

// The directory of `record` (exactly `leader.record_length` bytes): its entries, each field
// checked to lie inside the field area.
Result<std::vector<DirectoryEntry>> parseDirectory(std::string_view record, const Leader& leader);

// ---- The descriptive record

struct FieldDescription {
    std::string tag;
    std::string controls;                 // e.g. "1600;&": data structure, data type, ...
    std::string name;                     // e.g. "Internal Spacial Reference"
    std::vector<std::string> labels;      // e.g. MODN, RCID, ...
    bool repeating = false;               // labels written "*X!Y": the subfields repeat to the end
    std::vector<SubfieldFormat> formats;  // one per label
};

// One field description: `bytes` are the field as the directory gives it.
Result<FieldDescription> parseFieldDescription(std::string tag, std::string_view bytes,
                                               std::size_t field_control_length);

// ---- Data records and subfields

struct Field {
    const FieldDescription* description = nullptr;
    std::string_view data;  // the field's bytes without its closing field terminator
};

struct Record {
    char leader_id = ' ';  // 'D', 'R', or ' ' for a field area that reuses an 'R' record's layout
    std::vector<Field> fields;

    // The first field with this tag; null when the record has none.
    const Field* find(std::string_view tag) const;
};

struct Subfield {
    std::string_view label;
    const SubfieldFormat* format = nullptr;
    std::string_view bytes;  // without its unit terminator
};

// The subfields of a field in order: one of each label, or for a repeating field as many rounds
// as the data holds. Bytes after the last subfield of a field that does not repeat are ignored.
Result<std::vector<Subfield>> splitSubfields(const Field& field);

// The first subfield `label` of `field`; an error when the field has no such label or its data
// ends before it.
Result<Subfield> findSubfield(const Field& field, std::string_view label);

// Text forms (A, I, R, S, C) as whole numbers, reals or text; binary forms as numbers. Spaces
// around a number are allowed, nothing else: no value when the bytes are not a number of that kind
// (a real that is not finite included).
std::optional<std::int64_t> integerValue(const Subfield& subfield);
std::optional<double> realValue(const Subfield& subfield);

// Reads a module held in memory: the descriptive record on construction, then one data record
// per `next`. The bytes must outlive the reader.
class ModuleParser {
  public:
    explicit ModuleParser(std::string_view bytes);

    // Success while all is well; once failed, every later `next` gives false.
    const Status& status() const { return status_; }
    const std::vector<FieldDescription>& descriptions() const { return descriptions_; }

    // Reads the next data record into `record` (its views point into the module's bytes). False
    // at the end of the module, or when the record is damaged: `status()` then says why.
    bool next(Record& record);

  private:
    bool fail(std::string line);
    bool readFields(const std::string& where, std::string_view record, std::size_t base,
                    const std::vector<DirectoryEntry>& entries, Record& out);

    std::string_view bytes_;
    std::size_t pos_ = 0;
    std::size_t records_ = 0;  // data records read
    Status status_;
    std::vector<FieldDescription> descriptions_;
    std::map<std::string, std::size_t, std::less<>> index_;  // tag -> description
    // After an 'R' record: its directory and field-area length, reused by every later record.
    std::optional<std::vector<DirectoryEntry>> repeated_;
    std::size_t repeated_area_ = 0;
};

}  // namespace marlwood::iso8211
