// What a measurement was made of, by whom and when, for a record an archive
// files with the figures: the file's full path, size and SHA-256, its
// container and encoding as libsndfile names them, its rate, bits,
// channels and length; the time in ISO 8601 with its zone and the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::meter {

inline constexpr const char* kProgramName = "Tarvo";

// The version this build carries.
const char* ProgramVersion();

struct FileRecord {
    std::string path;  // absolute
    uint64_t bytes = 0;
    std::string sha256;  // 64 lower-case hexadecimal digits
    std::string format;  // "WAV (Microsoft), Signed 16 bit PCM"; a speed log: "speed log (text)"
    int sampleRate = 0, bits = 0, channels = 0;  // 0: none (a speed log, a float's bits are 32)
    double seconds = 0;
};

// Describes a file as read now (it is opened as untrusted input, a
// regular file only); false with the reason when it cannot be read.
bool DescribeFile(const std::string& path, FileRecord& r, std::string& why);

// The SHA-256 of the bytes of an open file descriptor, read to its end
// from where it stands; empty with the reason when a read fails.
std::string Sha256Of(int fd, uint64_t& bytes, std::string& why);

// Who measured, with which machine, and when, beside the file.
struct Provenance {
    std::string measuredAt;  // ISO 8601
    std::string operatorName, deck;  // empty: not given
    std::string deckDescription;     // the machine profile's own words
};

// The record as lines of text for a report: what (the file), how it was
// read, who and when.
std::vector<std::string> RecordLines(const FileRecord& f, const Provenance& p);

// The record of a file that could not be read: its path, why, who and when.
std::vector<std::string> UnreadRecordLines(const std::string& path, const std::string& why, const Provenance& p);

// How the figures were measured, as a record's line: the carrier found or
// given, the nominal tone.
std::string MethodLine(double carrierHz, double nominalHz);

// The time now in ISO 8601 with the local zone: "2026-12-08T01:15:00+01:00".
std::string NowIso8601();

}  // namespace tarvo::meter
