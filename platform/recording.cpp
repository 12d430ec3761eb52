#include "platform/recording.h"

namespace platform::recording_detail {

std::atomic<Recorder*> g_recorder{nullptr};

}  // namespace platform::recording_detail
