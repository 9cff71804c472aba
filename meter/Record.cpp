#include "meter/Record.h"

#include "meter/Limits.h"

#include "framework/InputFile.h"
#include "meter/SoundReader.h"
#include "meter/SpeedLog.h"

#include <openssl/evp.h>
#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <vector>

#ifndef TARVO_VERSION
#define TARVO_VERSION "unknown"
#endif

namespace tarvo::meter {

namespace {

// libsndfile's name of a major format or a subtype, empty when it has none.
std::string FormatName(int format)
{
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || !info.name)
        return {};
    return info.name;
}

int BitsOf(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 32;
    case SF_FORMAT_DOUBLE:
        return 64;
    default:
        return 0;  // compressed: no fixed width
    }
}

}  // namespace

const char* ProgramVersion() { return TARVO_VERSION; }

std::string Sha256Of(int fd, uint64_t& bytes, std::string& why)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        why = "the SHA-256 could not be started";
        return {};
    }
    std::vector<unsigned char> buffer(1 << 20);
    bytes = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = std::strerror(errno);
            return {};
        }
        if (n == 0)
            break;
        bytes += static_cast<uint64_t>(n);
        EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(n));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) {
        why = "the SHA-256 could not be finished";
        return {};
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

bool DescribeFile(const std::string& path, FileRecord& r, std::string& why)
{
    r = FileRecord();
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    r.path = ec ? path : absolute.lexically_normal().string();
    const int fd = OpenInputFile(path, InputKind::Regular, &why);
    if (fd < 0)
        return false;
    r.sha256 = Sha256Of(fd, r.bytes, why);
    ::close(fd);
    if (r.sha256.empty())
        return false;
    // Text never reaches libsndfile, whose decoders would say so on standard error.
    SpeedLogReader log;
    const bool text = (log.Open(path) && log.Survey()) || log.Recognised();
    SoundReader reader;
    if (text) {
        r.format = "speed log (text)";
    } else if (reader.Open(path)) {
        const int format = reader.Format();
        const std::string major = FormatName(format & SF_FORMAT_TYPEMASK);
        const std::string sub = FormatName(format & SF_FORMAT_SUBMASK);
        r.format = major + (sub.empty() ? "" : ", " + sub);
        r.sampleRate = reader.Rate();
        r.bits = BitsOf(format & SF_FORMAT_SUBMASK);
        r.channels = reader.Channels();
        r.seconds = reader.Rate() > 0 ? static_cast<double>(reader.Frames()) / reader.Rate() : 0;
    } else {
        r.format = "not a sound file libsndfile reads";
    }
    return true;
}

namespace {

void WhoAndWhen(std::vector<std::string>& lines, const Provenance& p)
{
    lines.push_back("Operator: " + (p.operatorName.empty() ? std::string("not given") : p.operatorName) +
                    "; machine: " + (p.deck.empty() ? std::string("none given") : p.deck) +
                    (p.deck.empty() || p.deckDescription.empty() ? std::string() : " (" + p.deckDescription + ")"));
    lines.push_back("Measured " + p.measuredAt + " by " + kProgramName + " " + ProgramVersion());
}

}  // namespace

std::vector<std::string> RecordLines(const FileRecord& f, const Provenance& p)
{
    std::vector<std::string> lines;
    lines.push_back("File: " + f.path);
    lines.push_back("Size: " + std::to_string(f.bytes) + " bytes; SHA-256: " + f.sha256);
    std::string format = "Format: " + f.format;
    if (f.sampleRate > 0) {
        format += "; " + std::to_string(f.sampleRate) + " Hz, ";
        format += f.bits > 0 ? std::to_string(f.bits) + " bit, " : std::string("compressed, ");
        format += std::to_string(f.channels) + (f.channels == 1 ? " channel, " : " channels, ");
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f s", f.seconds);
        format += seconds;
    }
    lines.push_back(format);
    WhoAndWhen(lines, p);
    return lines;
}

std::vector<std::string> UnreadRecordLines(const std::string& path, const std::string& why, const Provenance& p)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    std::vector<std::string> lines = {"File: " + (ec ? path : absolute.lexically_normal().string()),
                                      "Not read: " + why};
    WhoAndWhen(lines, p);
    return lines;
}

std::string MethodLine(double carrierHz, double nominalHz)
{
    auto hz = [](double v) { return LimitNumber(v) + " Hz"; };
    return "Method: carrier " + (carrierHz > 0 ? "given as " + hz(carrierHz) : std::string("found (the strongest tone)")) +
           "; nominal tone " + (nominalHz > 0 ? hz(nominalHz) : std::string("none given (no speed error)"));
}

std::string NowIso8601()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0)
        return {};
    std::string t = text;
    // ISO 8601's extended form: +0100 as +01:00.
    if (t.size() >= 5)
        t.insert(t.size() - 2, ":");
    return t;
}

}  // namespace tarvo::meter
