#include "sound/Mci.h"
#include "sound/PcmWave.h"

#include <string_view>

namespace tarvo {

namespace {

constexpr std::string_view kOpen = "open new type waveaudio alias capture";
constexpr std::string_view kSetPrefix = "set capture samplespersec to ";
constexpr std::string_view kSetSuffix = " wait";
constexpr std::string_view kRecord = "record capture";
constexpr std::string_view kSavePrefix = "save capture ";
constexpr std::string_view kClose = "close capture wait";

constexpr int kMinRate = 1000;
constexpr int kMaxRate = 192000;

}  // namespace

std::string MciErrorText(unsigned code)
{
    switch (code) {
    case MCI_OK: return "";
    case MCIERR_UNRECOGNIZED_COMMAND: return "The command is not recognized.";
    case MCIERR_HARDWARE: return "The recording device could not be started.";
    case MCIERR_DEVICE_OPEN: return "The device is already open.";
    case MCIERR_OUTOFRANGE: return "The value is out of range.";
    case MCIERR_FILE_NOT_SAVED: return "The file was not saved.";
    case MCIERR_DEVICE_NOT_OPEN: return "The device is not open.";
    case MCIERR_NO_DEVICE: return "No audio input device was found.";
    default: return "Unknown error.";
    }
}

CommandRecorder::~CommandRecorder()
{
    if (m_source && m_bRecording)
        m_source->Stop();
}

unsigned CommandRecorder::SendString(const std::string& command, std::string* reply)
{
    const std::string_view c = command;
    unsigned result = MCIERR_UNRECOGNIZED_COMMAND;
    m_strSaveError.clear();
    if (c == kOpen)
        result = Open();
    else if (c.starts_with(kSetPrefix) && c.ends_with(kSetSuffix) &&
             c.size() > kSetPrefix.size() + kSetSuffix.size())
        result = SetRate(std::string(c.substr(kSetPrefix.size(), c.size() - kSetPrefix.size() - kSetSuffix.size())));
    else if (c == kRecord)
        result = Record();
    else if (c.starts_with(kSavePrefix) && c.size() > kSavePrefix.size())
        result = Save(std::string(c.substr(kSavePrefix.size())));
    else if (c == kClose)
        result = Close();
    if (reply)
        *reply = m_strSaveError.empty() ? MciErrorText(result) : m_strSaveError + ".";
    return result;
}

unsigned CommandRecorder::Open()
{
    if (m_source)
        return MCIERR_DEVICE_OPEN;
    m_source = m_factory ? m_factory() : nullptr;
    if (!m_source)
        return MCIERR_NO_DEVICE;
    m_nRate = kDefaultRate;
    m_captured.clear();
    m_bRecording = false;
    m_bHaveTake = false;
    return MCI_OK;
}

unsigned CommandRecorder::SetRate(const std::string& digits)
{
    if (!m_source)
        return MCIERR_DEVICE_NOT_OPEN;
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
        return MCIERR_UNRECOGNIZED_COMMAND;
    const int rate = std::stoi(digits);
    if (rate < kMinRate || rate > kMaxRate)
        return MCIERR_OUTOFRANGE;
    if (m_bRecording)
        return MCIERR_HARDWARE;  // the rate of a running take cannot change
    m_nRate = rate;
    return MCI_OK;
}

unsigned CommandRecorder::Record()
{
    if (!m_source)
        return MCIERR_DEVICE_NOT_OPEN;
    if (m_bRecording)
        return MCI_OK;
    // A new take replaces the last one, even when it fails to start: a
    // failed start leaves no take to save.
    m_captured.clear();
    m_bHaveTake = false;
    if (!m_source->Start(m_nRate))
        return MCIERR_HARDWARE;
    m_format = m_source->Format();
    m_bRecording = true;
    m_bHaveTake = true;
    return MCI_OK;
}

unsigned CommandRecorder::Save(const std::string& name)
{
    if (!m_source)
        return MCIERR_DEVICE_NOT_OPEN;
    if (m_bRecording) {
        m_captured = m_source->Stop();
        m_bRecording = false;
    }
    if (!m_bHaveTake)
        return MCIERR_FILE_NOT_SAVED;
    const std::vector<unsigned char> samples = ConvertToMono8(m_captured, m_format, m_nRate);
    if (!WriteWave8MonoFile(name, m_nRate, samples, &m_strSaveError)) {
        if (m_strSaveError.empty())
            m_strSaveError = "The file was not saved";
        return MCIERR_FILE_NOT_SAVED;
    }
    return MCI_OK;
}

unsigned CommandRecorder::Close()
{
    if (!m_source)
        return MCIERR_DEVICE_NOT_OPEN;
    if (m_bRecording)
        m_source->Stop();
    m_source.reset();
    m_captured.clear();
    m_bRecording = false;
    m_bHaveTake = false;
    return MCI_OK;
}

}  // namespace tarvo
