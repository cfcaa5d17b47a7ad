#pragma once

#include "FileItem.h"
#include "tavrin/workflow/Session.h"

namespace tavrin::app {

/// A row as a session saves it: its file's stamp (whose digest may still be empty) and reading,
/// and each preset's copy that is still on disk as it was written.
Session::Row sessionRow(const FileItem& item);

/// A list row, with a new id, from a saved one: its reading as saved (or waiting, when it had
/// none) and its copies.
FileItem itemOf(const Session::Row& row);

/// Fills in the digests `record` still lacks, reading each file whose size and time are those it
/// was measured or written with; a file that changed since, or can't be read, loses its stamp
/// (an original) or its place (a copy). Throws Cancelled.
void completeDigests(Session::Record& record, const CancelCheck& isCancelled);

} // namespace tavrin::app
