// The sound layer's sample kind of a Qt audio format, shared by the record
// dialog's take and the live meter's stream.
#pragma once

#include "sound/Mci.h"

#include <QAudioFormat>

namespace tarvo {

inline SampleKind KindOf(QAudioFormat::SampleFormat f)
{
    switch (f) {
    case QAudioFormat::Int16: return SampleKind::Int16;
    case QAudioFormat::Int32: return SampleKind::Int32;
    case QAudioFormat::Float: return SampleKind::Float;
    default: return SampleKind::UInt8;
    }
}

}  // namespace tarvo
