// Opening the device a volume is read from: read-only, only files that hold
// blocks, and with a set-id installation's privilege taken back for the open alone.
#pragma once

// Makes the caller's real ids the effective ones for the rest of the run; the
// effective ids found at the start stay saved, and open_device takes them back
// for the open of a device only. False when the real ids could not be taken.
[[nodiscard]] bool give_up_privilege();

// Opens path read-only without waiting (a FIFO would wait for a writer) and
// keeps it only when it is a regular file or a block or character device. The
// descriptor, or -1.
[[nodiscard]] int open_device(const char* path);
