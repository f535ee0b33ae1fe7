// streameditor_internal.h - settings of the stream editor that only its tests change.
#ifndef SERVICES_STREAMEDITOR_STREAMEDITOR_INTERNAL_H
#define SERVICES_STREAMEDITOR_STREAMEDITOR_INTERNAL_H

#include <cstddef>

namespace streameditor {

// The size of the blocks in which Sed_FileEdit() reads its input (256 KiB). Tests make it small
// so that occurrences straddle block edges in short files. `bytes` 0 restores the default.
void SetReadBlockSize(size_t bytes);

// Called by Sed_FileEdit() once the output is written, right before it is renamed into place:
// the point at which a test kills the process or lets another user try to swap the file.
// NULL (the default) calls nothing.
void SetBeforeRenameHook(void (*hook)());

} // namespace streameditor

#endif
