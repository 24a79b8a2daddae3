#include "sdts/iso8211.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <utility>

#include "common/text.h"

namespace marlwood::iso8211 {

namespace {

// Leader positions (the same in every record) and the widest number a leader can hold.
constexpr std::size_t kRecordLengthAt = 0;
constexpr std::size_t kLeaderIdAt = 6;
constexpr std::size_t kFieldControlLengthAt = 10;
constexpr std::size_t kBaseAddressAt = 12;
constexpr std::size_t kLengthWidthAt = 20;
constexpr std::size_t kPositionWidthAt = 21;
constexpr std::size_t kTagWidthAt = 23;
constexpr std::size_t kFiveDigits = 5;
constexpr std::size_t kMaxRecordBytes = 99999;
constexpr std::size_t kMaxBinaryBits = 64;

template <typename T>
Result<T> failed(std::string error) {
    return failure(std::move(error));
}

constexpr std::size_t kLongestShown = 40;
// Bytes from a module fit for a one-line message: control bytes shown as '?', long texts cut.
std::string printable(std::string_view bytes) {
    return printableText(bytes, kLongestShown);
}
// The same in quotes, for bytes that may be empty or hold spaces.
std::string shown(std::string_view bytes) {
    return quotedText(bytes, kLongestShown);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The number written in exactly `text`, digits only (at most nine: no overflow anywhere).
std::optional<std::size_t> digitsValue(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::size_t value = 0;
    for (const char c : text) {
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value;
}

// A directory width of the entry map: one digit, 1 to 9.
std::optional<std::size_t> widthValue(char c) {
    if (c < '1' || c > '9') return std::nullopt;
    return static_cast<std::size_t>(c - '0');
}

// Format controls, read by recursive descent: a group is "(" items ")", an item an optional
// repeat count and then a group or one format.
class FormatParser {
  public:
    explicit FormatParser(std::string_view text) : text_(text) {}

    Result<std::vector<SubfieldFormat>> run() {
        std::vector<SubfieldFormat> formats;
        if (text_.empty()) return formats;
        if (!group(formats, 1)) return failed<std::vector<SubfieldFormat>>(why());
        if (pos_ != text_.size()) {
            fail(shown(text_.substr(pos_)) + " after the closing parenthesis");
            return failed<std::vector<SubfieldFormat>>(why());
        }
        return formats;
    }

  private:
    std::string why() const { return "format controls " + shown(text_) + ": " + error_; }
    bool fail(std::string error) {
        error_ = std::move(error);
        return false;
    }
    bool at(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
    bool take(char c) {
        if (!at(c)) return false;
        ++pos_;
        return true;
    }
    // Digits at the position, at most `largest`.
    std::optional<std::size_t> number(std::size_t largest) {
        if (pos_ >= text_.size() || !isDigit(text_[pos_])) {
            fail("a number expected at character " + std::to_string(pos_ + 1));
            return std::nullopt;
        }
        std::size_t value = 0;
        while (pos_ < text_.size() && isDigit(text_[pos_])) {
            value = value * 10 + static_cast<std::size_t>(text_[pos_++] - '0');
            if (value > largest) {
                fail("a number larger than " + std::to_string(largest));
                return std::nullopt;
            }
        }
        return value;
    }

    bool group(std::vector<SubfieldFormat>& out, std::size_t depth) {
        if (depth > kMaxFormatDepth) {
            return fail("groups nested more than " + std::to_string(kMaxFormatDepth) + " deep");
        }
        if (!take('(')) return fail("'(' expected at character " + std::to_string(pos_ + 1));
        if (take(')')) return true;  // "()": no subfields
        for (;;) {
            if (!item(out, depth)) return false;
            if (take(')')) return true;
            if (!take(',')) {
                return fail("',' or ')' expected at character " + std::to_string(pos_ + 1));
            }
        }
    }

    bool item(std::vector<SubfieldFormat>& out, std::size_t depth) {
        std::size_t repeat = 1;
        if (pos_ < text_.size() && isDigit(text_[pos_])) {
            const std::optional<std::size_t> count = number(kMaxSubfields);
            if (!count) return false;
            if (*count == 0) return fail("a repeat count of 0");
            repeat = *count;
        }
        std::vector<SubfieldFormat> unit;
        if (at('(')) {
            if (!group(unit, depth + 1)) return false;
        } else if (!single(unit)) {
            return false;
        }
        // out.size() never exceeds the cap, so the subtraction cannot wrap.
        if (!unit.empty() && repeat > (kMaxSubfields - out.size()) / unit.size()) {
            return fail("more than " + std::to_string(kMaxSubfields) + " subfields");
        }
        for (std::size_t i = 0; i < repeat; ++i) out.insert(out.end(), unit.begin(), unit.end());
        return true;
    }

    bool single(std::vector<SubfieldFormat>& out) {
        if (pos_ >= text_.size()) return fail("the text ends where a format is expected");
        SubfieldFormat format;
        format.code = text_[pos_++];
        switch (format.code) {
            case 'A':
            case 'I':
            case 'R':
            case 'S':
            case 'C':
                if (take('(')) {
                    const std::optional<std::size_t> width = number(kMaxRecordBytes);
                    if (!width) return false;
                    if (*width == 0) return fail("a width of 0");
                    if (!take(')')) return fail("')' expected after a width");
                    format.width = *width;
                }
                break;
            case 'B': {
                // B(n): n bits, a whole number of bytes.
                if (!take('(')) return fail("B without a width in bits");
                const std::optional<std::size_t> bits = number(kMaxBinaryBits);
                if (!bits) return false;
                if (*bits == 0 || *bits % 8 != 0) {
                    return fail("B(" + std::to_string(*bits) + ") is no whole number of bytes");
                }
                if (!take(')')) return fail("')' expected after a width");
                format.width = *bits / 8;
                format.binary = Binary::Signed;
                break;
            }
            case 'b': {
                // bTW: T the kind, W the width in bytes.
                if (text_.size() - pos_ < 2 || !isDigit(text_[pos_]) || !isDigit(text_[pos_ + 1])) {
                    return fail("b without its two digits");
                }
                const char kind = text_[pos_];
                format.width = static_cast<std::size_t>(text_[pos_ + 1] - '0');
                pos_ += 2;
                const bool integer_width = format.width == 1 || format.width == 2 ||
                                           format.width == 4 || format.width == 8;
                if ((kind == '1' || kind == '2') && integer_width) {
                    format.binary = kind == '1' ? Binary::Unsigned : Binary::Signed;
                } else if (kind == '4' && (format.width == 4 || format.width == 8)) {
                    format.binary = Binary::Float;
                } else {
                    return fail(std::string("unsupported binary form b") + kind +
                                static_cast<char>('0' + format.width));
                }
                break;
            }
            default:
                return fail("unknown format " + shown(std::string_view(&format.code, 1)));
        }
        out.push_back(format);
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string error_;
};

std::string_view trimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// A text number after its spaces and a leading '+' (which from_chars does not take) are gone.
std::string_view numberText(std::string_view bytes) {
    std::string_view text = trimSpaces(bytes);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    return text;
}

std::uint64_t binaryBits(std::string_view bytes, bool big_endian) {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t at = big_endian ? i : bytes.size() - 1 - i;
        bits = (bits << 8) | static_cast<unsigned char>(bytes[at]);
    }
    return bits;
}

// Binary integers as signed values; no value for an unsigned one beyond int64_t.
std::optional<std::int64_t> binaryInteger(const Subfield& subfield) {
    const SubfieldFormat& format = *subfield.format;
    if (subfield.bytes.empty() || subfield.bytes.size() > 8) return std::nullopt;
    const std::uint64_t bits = binaryBits(subfield.bytes, format.code == 'B');
    const std::size_t width_bits = 8 * subfield.bytes.size();
    if (format.binary == Binary::Unsigned) {
        if (bits > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<std::int64_t>(bits);
    }
    if (width_bits < 64 && (bits >> (width_bits - 1)) != 0) {
        return static_cast<std::int64_t>(bits | (~std::uint64_t{0} << width_bits));
    }
    return static_cast<std::int64_t>(bits);
}

// The subfields of a field in order, stopping after the first labelled `stop` when it is given.
Status splitInto(const Field& field, std::string_view stop, std::vector<Subfield>& out) {
    const FieldDescription& description = *field.description;
    const std::string_view data = field.data;
    if (description.formats.empty()) return {};
    std::size_t pos = 0;
    bool exhausted = false;  // the last subfield ran into the end of the data, no terminator
    do {
        for (std::size_t i = 0; i < description.formats.size(); ++i) {
            const SubfieldFormat& format = description.formats[i];
            const std::string& label = description.labels[i];
            if (exhausted) {
                return failure("field " + printable(description.tag) +
                               " ends before its subfield " + printable(label));
            }
            std::string_view bytes;
            if (format.width > 0) {
                if (format.width > data.size() - pos) {
                    return failure("field " + printable(description.tag) + ": subfield " +
                                   printable(label) + " needs " + std::to_string(format.width) +
                                   " bytes, " + std::to_string(data.size() - pos) + " left");
                }
                bytes = data.substr(pos, format.width);
                pos += format.width;
                exhausted = pos == data.size() && i + 1 < description.formats.size();
            } else {
                const std::size_t end =
                    data.find_first_of(std::string_view("\x1e\x1f", 2), pos);  // pos <= size
                bytes = data.substr(pos, (end == data.npos ? data.size() : end) - pos);
                pos = end == data.npos ? data.size() : end + 1;
                exhausted = end == data.npos;
            }
            out.push_back(Subfield{label, &format, bytes});
            if (!stop.empty() && label == stop) return {};
        }
        // Each round reads at least one byte while data remains, so repeating ends.
    } while (description.repeating && pos < data.size());
    return {};
}

}  // namespace

Result<std::vector<SubfieldFormat>> parseFormatControls(std::string_view text) {
    return FormatParser(text).run();
}

Result<Leader> parseLeader(std::string_view bytes, bool descriptive) {
    if (bytes.size() < kLeaderBytes) {
        return failed<Leader>("a leader needs 24 bytes, " + std::to_string(bytes.size()) + " left");
    }
    Leader leader;
    const std::optional<std::size_t> length = digitsValue(bytes.substr(kRecordLengthAt, 5));
    if (!length) {
        return failed<Leader>("record length " + shown(bytes.substr(kRecordLengthAt, 5)) +
                              " is not five digits");
    }
    leader.record_length = *length;
    leader.leader_id = bytes[kLeaderIdAt];
    if (descriptive ? leader.leader_id != 'L'
                    : leader.leader_id != 'D' && leader.leader_id != 'R') {
        return failed<Leader>("leader identifier " + shown(bytes.substr(kLeaderIdAt, 1)) +
                              (descriptive ? ", not L" : ", neither D nor R"));
    }
    if (descriptive) {
        const std::optional<std::size_t> controls =
            digitsValue(bytes.substr(kFieldControlLengthAt, 2));
        if (!controls) {
            return failed<Leader>("field control length " +
                                  shown(bytes.substr(kFieldControlLengthAt, 2)) +
                                  " is not two digits");
        }
        leader.field_control_length = *controls;
    }
    const std::optional<std::size_t> base = digitsValue(bytes.substr(kBaseAddressAt, kFiveDigits));
    if (!base) {
        return failed<Leader>("base address " + shown(bytes.substr(kBaseAddressAt, kFiveDigits)) +
                              " is not five digits");
    }
    leader.base_address = *base;
    const std::optional<std::size_t> length_width = widthValue(bytes[kLengthWidthAt]);
    const std::optional<std::size_t> position_width = widthValue(bytes[kPositionWidthAt]);
    const std::optional<std::size_t> tag_width = widthValue(bytes[kTagWidthAt]);
    if (!length_width || !position_width || !tag_width) {
        return failed<Leader>("entry map " + shown(bytes.substr(kLengthWidthAt, 4)) +
                              " does not give three widths of 1 to 9");
    }
    leader.length_width = *length_width;
    leader.position_width = *position_width;
    leader.tag_width = *tag_width;
    // The leader, then at least the directory's terminator, then the field area.
    if (leader.base_address < kLeaderBytes + 1 || leader.base_address > leader.record_length) {
        return failed<Leader>("base address " + std::to_string(leader.base_address) +
                              " is outside 25.." + std::to_string(leader.record_length) +
                              ", the record's length");
    }
    return leader;
}

Result<std::vector<DirectoryEntry>> parseDirectory(std::string_view record, const Leader& leader) {
    using Entries = std::vector<DirectoryEntry>;
    if (leader.base_address < kLeaderBytes + 1 || leader.base_address > record.size()) {
        return failed<Entries>("base address " + std::to_string(leader.base_address) +
                               " is outside the record");
    }
    if (record[leader.base_address - 1] != kFieldTerminator) {
        return failed<Entries>("the directory does not end with a field terminator at byte " +
                               std::to_string(leader.base_address - 1));
    }
    const std::size_t entry_size = leader.tag_width + leader.length_width + leader.position_width;
    const std::size_t directory_size = leader.base_address - 1 - kLeaderBytes;
    if (directory_size % entry_size != 0) {
        return failed<Entries>("a directory of " + std::to_string(directory_size) +
                               " bytes is no whole number of " + std::to_string(entry_size) +
                               "-byte entries");
    }
    const std::size_t area = record.size() - leader.base_address;
    Entries entries;
    entries.reserve(directory_size / entry_size);
    for (std::size_t at = kLeaderBytes; at < leader.base_address - 1; at += entry_size) {
        DirectoryEntry entry;
        entry.tag = std::string(record.substr(at, leader.tag_width));
        const std::string_view length_text =
            record.substr(at + leader.tag_width, leader.length_width);
        const std::string_view position_text =
            record.substr(at + leader.tag_width + leader.length_width, leader.position_width);
        const std::optional<std::size_t> length = digitsValue(length_text);
        const std::optional<std::size_t> position = digitsValue(position_text);
        if (!length || !position) {
            return failed<Entries>("directory entry " + shown(record.substr(at, entry_size)) +
                                   " holds no length and position digits");
        }
        // Every field holds at least its terminator: this also bounds the fields of a record by
        // its size.
        if (*length == 0) return failed<Entries>("field " + shown(entry.tag) + " has length 0");
        if (*position > area || *length > area - *position) {
            return failed<Entries>("field " + shown(entry.tag) + " at " +
                                   std::to_string(*position) + ", " + std::to_string(*length) +
                                   " bytes long, lies outside the field area of " +
                                   std::to_string(area) + " bytes");
        }
        entry.length = *length;
        entry.position = *position;
        entries.push_back(std::move(entry));
    }
    return entries;
}

Result<FieldDescription> parseFieldDescription(std::string tag, std::string_view bytes,
                                               std::size_t field_control_length) {
    const std::string where = "field " + shown(tag) + ": ";
    if (bytes.empty() || bytes.back() != kFieldTerminator) {
        return failed<FieldDescription>(where +
                                        "its description does not end with a field "
                                        "terminator");
    }
    bytes.remove_suffix(1);
    if (field_control_length > bytes.size()) {
        return failed<FieldDescription>(where + "its description is shorter than the " +
                                        std::to_string(field_control_length) +
                                        " bytes of field controls");
    }
    FieldDescription description;
    description.tag = std::move(tag);
    description.controls = std::string(bytes.substr(0, field_control_length));
    bytes.remove_prefix(field_control_length);
    // Name, labels and formats, each up to a unit terminator; missing parts are empty.
    std::string_view parts[3];
    for (std::string_view& part : parts) {
        const std::size_t end = bytes.find(kUnitTerminator);
        part = bytes.substr(0, end);
        bytes.remove_prefix(end == bytes.npos ? bytes.size() : end + 1);
    }
    description.name = std::string(parts[0]);
    // The file control field is no data field: its second part lists field tag pairs (the
    // tree of the fields, which marlwood does not need) and it has no format controls.
    if (description.tag == kFileControlTag) return description;
    std::string_view labels = parts[1];
    if (!labels.empty() && labels.front() == '*') {
        description.repeating = true;
        labels.remove_prefix(1);
    }
    if (!labels.empty()) {
        std::size_t count = 1;
        for (const char c : labels) count += c == '!' ? 1 : 0;
        if (count > kMaxSubfields) {
            return failed<FieldDescription>(where + "more than " + std::to_string(kMaxSubfields) +
                                            " subfield labels");
        }
        description.labels.reserve(count);
        for (;;) {
            const std::size_t end = labels.find('!');
            const std::string_view label = labels.substr(0, end);
            if (label.empty()) return failed<FieldDescription>(where + "an empty subfield label");
            description.labels.emplace_back(label);
            if (end == labels.npos) break;
            labels.remove_prefix(end + 1);
        }
    }
    Result<std::vector<SubfieldFormat>> formats = parseFormatControls(parts[2]);
    if (!formats) return failed<FieldDescription>(where + formats.message());
    description.formats = std::move(*formats);
    if (description.formats.size() != description.labels.size()) {
        return failed<FieldDescription>(where + std::to_string(description.labels.size()) +
                                        " subfield labels but " +
                                        std::to_string(description.formats.size()) + " formats");
    }
    return description;
}

const Field* Record::find(std::string_view tag) const {
    for (const Field& field : fields) {
        if (field.description->tag == tag) return &field;
    }
    return nullptr;
}

Result<std::vector<Subfield>> splitSubfields(const Field& field) {
    std::vector<Subfield> subfields;
    if (Status split = splitInto(field, {}, subfields); !split) return split.error();
    return subfields;
}

Result<Subfield> findSubfield(const Field& field, std::string_view label) {
    const std::vector<std::string>& labels = field.description->labels;
    if (label.empty() || std::find(labels.begin(), labels.end(), label) == labels.end()) {
        return failed<Subfield>("field " + printable(field.description->tag) + " has no subfield " +
                                shown(label));
    }
    std::vector<Subfield> subfields;
    if (Status split = splitInto(field, label, subfields); !split) return split.error();
    return subfields.back();
}

std::optional<std::int64_t> integerValue(const Subfield& subfield) {
    if (subfield.format->binary == Binary::Float) return std::nullopt;
    if (subfield.format->binary != Binary::None) return binaryInteger(subfield);
    const std::string_view text = numberText(subfield.bytes);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> realValue(const Subfield& subfield) {
    const SubfieldFormat& format = *subfield.format;
    double value = 0;
    if (format.binary == Binary::Float) {
        const std::uint64_t bits = binaryBits(subfield.bytes, false);
        if (subfield.bytes.size() == 4) {
            value = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
        } else if (subfield.bytes.size() == 8) {
            value = std::bit_cast<double>(bits);
        } else {
            return std::nullopt;
        }
    } else if (format.binary == Binary::Unsigned && subfield.bytes.size() == 8) {
        value = static_cast<double>(binaryBits(subfield.bytes, false));
    } else if (format.binary != Binary::None) {
        const std::optional<std::int64_t> integer = binaryInteger(subfield);
        if (!integer) return std::nullopt;
        value = static_cast<double>(*integer);
    } else {
        const std::string_view text = numberText(subfield.bytes);
        // Explicit-point numbers only: from_chars would also take "inf", "nan" and hex digits.
        if (text.empty() || text.find_first_not_of("0123456789+-.Ee") != text.npos) {
            return std::nullopt;
        }
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    }
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

ModuleParser::ModuleParser(std::string_view bytes) : bytes_(bytes) {
    const Result<Leader> leader = parseLeader(bytes_, true);
    if (!leader) {
        fail("descriptive record: " + leader.message());
        return;
    }
    const Leader& ddr = *leader;
    if (ddr.record_length > bytes_.size()) {
        fail("descriptive record: " + std::to_string(ddr.record_length) +
             " bytes long, but the module holds " + std::to_string(bytes_.size()));
        return;
    }
    const std::string_view record = bytes_.substr(0, ddr.record_length);
    Result<std::vector<DirectoryEntry>> entries = parseDirectory(record, ddr);
    if (!entries) {
        fail("descriptive record: " + entries.message());
        return;
    }
    for (DirectoryEntry& entry : *entries) {
        Result<FieldDescription> description = parseFieldDescription(
            std::move(entry.tag), record.substr(ddr.base_address + entry.position, entry.length),
            ddr.field_control_length);
        if (!description) {
            fail("descriptive record: " + description.message());
            return;
        }
        if (!index_.emplace(description->tag, descriptions_.size()).second) {
            fail("descriptive record: field " + shown(description->tag) +
                 " is described twice");
            return;
        }
        descriptions_.push_back(std::move(*description));
    }
    pos_ = ddr.record_length;
}

bool ModuleParser::fail(std::string line) {
    status_ = failure(std::move(line));
    return false;
}

bool ModuleParser::next(Record& record) {
    record.fields.clear();
    if (!status_ || pos_ == bytes_.size()) return false;
    ++records_;
    const std::string where =
        "record " + std::to_string(records_) + " (byte " + std::to_string(pos_) + "): ";
    const std::string_view rest = bytes_.substr(pos_);
    if (repeated_) {
        if (repeated_area_ > rest.size()) {
            return fail(where + "a record without leader needs " + std::to_string(repeated_area_) +
                        " bytes, " + std::to_string(rest.size()) + " left");
        }
        record.leader_id = ' ';
        if (!readFields(where, rest.substr(0, repeated_area_), 0, *repeated_, record)) {
            return false;
        }
        pos_ += repeated_area_;
        return true;
    }
    const Result<Leader> leader = parseLeader(rest, false);
    if (!leader) return fail(where + leader.message());
    const Leader& l = *leader;
    if (l.record_length > rest.size()) {
        return fail(where + std::to_string(l.record_length) + " bytes long, " +
                    std::to_string(rest.size()) + " left");
    }
    const std::string_view bytes = rest.substr(0, l.record_length);
    Result<std::vector<DirectoryEntry>> entries = parseDirectory(bytes, l);
    if (!entries) return fail(where + entries.message());
    record.leader_id = l.leader_id;
    if (!readFields(where, bytes, l.base_address, *entries, record)) return false;
    if (l.leader_id == 'R') {
        // The records after it are field areas of the same layout, to the end of the module.
        repeated_area_ = l.record_length - l.base_address;
        if (repeated_area_ == 0) return fail(where + "an 'R' record with no fields to repeat");
        repeated_ = std::move(*entries);
    }
    pos_ += l.record_length;
    return true;
}

bool ModuleParser::readFields(const std::string& where, std::string_view record, std::size_t base,
                              const std::vector<DirectoryEntry>& entries, Record& out) {
    for (const DirectoryEntry& entry : entries) {
        const auto found = index_.find(entry.tag);
        if (found == index_.end()) {
            return fail(where + "field " + shown(entry.tag) +
                        " is not described in the descriptive record");
        }
        // parseDirectory placed the field inside the area; `record` holds the whole area.
        std::string_view bytes = record.substr(base + entry.position, entry.length);
        if (bytes.back() != kFieldTerminator) {
            return fail(where + "field " + shown(entry.tag) +
                        " does not end with a field terminator");
        }
        bytes.remove_suffix(1);
        out.fields.push_back(Field{&descriptions_[found->second], bytes});
    }
    return true;
}

}  // namespace marlwood::iso8211
