// streameditor_internal.h - settings of the stream editor that only its tests change.
#ifndef SERVICES_STREAMEDITOR_STREAMEDITOR_INTERNAL_H
#define SERVICES_STREAMEDITOR_STREAMEDITOR_INTERNAL_H

#include <cstddef>

namespace streameditor {

// The size of the blocks in which Sed_FileEdit() reads its input (256 KiB). Tests make it small
// so that occurrences straddle block edges in short files. `bytes` 0 restores the default.
void SetReadBlockSize(size_t bytes);

} // namespace streameditor

#endif
