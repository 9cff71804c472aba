// The entry points of tarvo-cli's Qt module (see platform/QtModule.h).
#include "platform/BatchReport.h"
#include "platform/MeterCharts.h"
#include "platform/MeterReport.h"
#include "platform/QtModule.h"

#include <type_traits>

extern "C" __attribute__((visibility("default"))) tarvo::SoundPlatform* tarvo_qt_create_sound()
{
    return tarvo::SoundPlatform::Create().release();
}

extern "C" __attribute__((visibility("default"))) bool tarvo_qt_write_meter_png(const tarvo::meter::MeterResult& result,
                                                                                const std::string& path,
                                                                                std::string& error)
{
    return tarvo::WriteMeterPng(result, path, error);
}

extern "C" __attribute__((visibility("default"))) bool tarvo_qt_write_meter_report(
    const tarvo::meter::MeterResult& result, const tarvo::MeterReportInfo& info, const std::string& path,
    std::string& error)
{
    return tarvo::WriteMeterReport(result, info, path, error);
}

extern "C" __attribute__((visibility("default"))) bool tarvo_qt_write_batch_report(const tarvo::BatchReportInfo& info,
                                                                                   const std::string& path,
                                                                                   std::string& error)
{
    return tarvo::WriteBatchReport(info, path, error);
}

// The signatures the loader expects.
static_assert(std::is_same_v<decltype(&tarvo_qt_create_sound), tarvo::TarvoCreateSoundFn>);
static_assert(std::is_same_v<decltype(&tarvo_qt_write_meter_png), tarvo::TarvoWriteMeterPngFn>);
static_assert(std::is_same_v<decltype(&tarvo_qt_write_meter_report), tarvo::TarvoWriteMeterReportFn>);
static_assert(std::is_same_v<decltype(&tarvo_qt_write_batch_report), tarvo::TarvoWriteBatchReportFn>);
