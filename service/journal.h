#pragma once
// Whether standard error is the systemd journal: systemd names the stream
// it connected in $JOURNAL_STREAM ("device:inode"). A run from a terminal,
// or a child whose stderr was redirected, is not.

namespace tellmaro::service {

bool stderrIsJournal();

}  // namespace tellmaro::service
