#pragma once

namespace rvw {

// Start-up adjustments to the platform's multimedia stack. Must run before the first
// multimedia object is created.
class Platform
{
public:
    // On Linux, Qt's GStreamer decoder accepts only interleaved little-endian samples,
    // so libav's planar MP3 and AAC decoders are ranked out in favour of mpg123 and faad.
    // A value the user set in GST_PLUGIN_FEATURE_RANK is left alone. Returns true when
    // the variable was set here.
    static bool applyDecoderRanking();
    static const char *decoderRanking();
};

} // namespace rvw
