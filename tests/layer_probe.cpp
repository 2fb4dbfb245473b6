// SPDX-License-Identifier: GPL-3.0-or-later
// Compiled only by the layer_include tests: includes the header that its
// build names, from inside a layer.
#include LAYER_PROBE_HEADER
