// The command-string interface of the recorder, and the capture source it
// records from.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvo {

// Results of a command string; 0 is success.
enum MciError : unsigned {
    MCI_OK = 0,
    MCIERR_UNRECOGNIZED_COMMAND = 261,
    MCIERR_HARDWARE = 262,
    MCIERR_DEVICE_OPEN = 265,
    MCIERR_OUTOFRANGE = 282,
    MCIERR_FILE_NOT_SAVED = 286,
    MCIERR_DEVICE_NOT_OPEN = 290,
    MCIERR_NO_DEVICE = 304,
};

// Something that takes command strings, as the record dialog sends them.
class MciDevice {
public:
    virtual ~MciDevice() = default;
    // Runs one command; the reply text (empty, or the reason of a failure)
    // goes to *reply when given.
    virtual unsigned SendString(const std::string& command, std::string* reply = nullptr) = 0;
    // Whether there is an input device to record from at all.
    virtual bool HasInputDevice() const { return true; }
};

// Accepts every command and does nothing: the recorder of a host without
// sound input.
class NullMciDevice : public MciDevice {
public:
    unsigned SendString(const std::string&, std::string* reply = nullptr) override
    {
        if (reply)
            reply->clear();
        return MCI_OK;
    }
    bool HasInputDevice() const override { return false; }
};

// How the captured bytes are laid out, frames of interleaved channels.
enum class SampleKind { UInt8, Int16, Int32, Float };

struct CaptureFormat {
    int rate = 0;
    int channels = 0;
    SampleKind kind = SampleKind::UInt8;
};

int BytesPerSample(SampleKind kind);

// One recording device. Start asks for a rate (8-bit mono preferred); the
// device may deliver any format, which Format tells once it has started.
class CaptureSource {
public:
    virtual ~CaptureSource() = default;
    // Starts capturing; false when no input could be started.
    virtual bool Start(int rate) = 0;
    virtual CaptureFormat Format() const = 0;
    // Stops capturing and hands over every byte captured since Start.
    virtual std::vector<unsigned char> Stop() = 0;
};

// Makes a capture source for a newly opened device; null when there is no
// input device.
using CaptureFactory = std::function<std::unique_ptr<CaptureSource>()>;

// The recorder behind the command strings: one wave-audio device under the
// alias "capture", opened, set to a rate, recording, saved and closed.
// A recording is saved as an 8-bit mono RIFF WAVE at the rate set,
// converted from whatever the capture source delivered.
class CommandRecorder : public MciDevice {
public:
    // hasInput tells whether an input device is there now (without it,
    // always).
    explicit CommandRecorder(CaptureFactory factory, std::function<bool()> hasInput = {})
        : m_factory(std::move(factory)), m_hasInput(std::move(hasInput))
    {
    }
    ~CommandRecorder() override;

    // A save that fails answers MCIERR_FILE_NOT_SAVED with the system's
    // reason as the reply; the take stays until it is saved, recorded over
    // or the device is closed.
    unsigned SendString(const std::string& command, std::string* reply = nullptr) override;
    bool HasInputDevice() const override { return !m_hasInput || m_hasInput(); }

    bool IsOpen() const { return m_source != nullptr; }
    bool IsRecording() const { return m_bRecording; }
    int Rate() const { return m_nRate; }

    // The rate of a newly opened device until a set command changes it.
    static constexpr int kDefaultRate = 11025;

private:
    unsigned Open();
    unsigned SetRate(const std::string& digits);
    unsigned Record();
    unsigned Save(const std::string& name);
    unsigned Close();

    CaptureFactory m_factory;
    std::function<bool()> m_hasInput;
    std::string m_strSaveError;  // the system's reason of the last failed save
    std::unique_ptr<CaptureSource> m_source;
    CaptureFormat m_format;
    std::vector<unsigned char> m_captured;
    int m_nRate = kDefaultRate;
    bool m_bRecording = false;
    bool m_bHaveTake = false;  // a take was made since the device opened (and is kept)
};

// Words of a command's result, for the reply.
std::string MciErrorText(unsigned code);

}  // namespace tarvo
