#include "app/Platform.h"

#include <QByteArray>
#include <QtGlobal>

namespace rvw {

const char *Platform::decoderRanking()
{
    return "avdec_mp3:NONE,avdec_mp3float:NONE,avdec_aac:NONE,avdec_aac_fixed:NONE";
}

bool Platform::applyDecoderRanking()
{
#if defined(Q_OS_LINUX)
    if (qEnvironmentVariableIsSet("GST_PLUGIN_FEATURE_RANK"))
        return false;
    return qputenv("GST_PLUGIN_FEATURE_RANK", QByteArray(decoderRanking()));
#else
    return false;
#endif
}

} // namespace rvw
