#pragma once

#include "workspace/TextCodec.h"

// The export's bulk writer of CP932 is the codec's streaming encoder.
using Cp932Stream = Cp932::Encoder;
