#pragma once

#include "widgets/FeatureDialogs.h"

// The one place that knows which folder's dialog answers which opener: the views and dialogs
// of the main window get these.
FeatureDialogs AppFeatureDialogs();
