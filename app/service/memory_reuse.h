// KeepFreedMemoryForReuse: a process-wide allocator setting for programs that load many files one
// after another (the editor's scan, corvella-tags -r).
#pragma once

// Loading a file allocates and frees buffers of a few hundred KiB (the file's head, a picture's
// text). With the allocator's defaults, such a buffer either comes from mmap or, when it is the top
// of the heap, is handed back to the system on free; the next file then pays for fresh zeroed pages
// again, which costs more than reading the file. This keeps freed memory up to a few MiB in the
// process for the next file instead. Call once at start, before threads are started; does nothing
// where the C library has no such setting.
void KeepFreedMemoryForReuse();
