// Where odsfs's diagnostic lines go once it runs in the background: syslog.
#pragma once

namespace odsfs {

// Makes standard error a stream whose lines go to syslog (facility daemon,
// level err, tagged odsfs), so that the core's reports reach the log after
// the process has left its terminal. False when the stream cannot be made.
[[nodiscard]] bool send_reports_to_syslog();

} // namespace odsfs
