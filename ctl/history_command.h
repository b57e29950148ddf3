// `nx480ctl history`: the event ring as the history window exports it.
#pragma once

#include <string>
#include <vector>

#include "history_record.h"
#include "history_view.h"

namespace nx480::ctl {

// The history window's table for the records received, newest first: the title row, then one
// row per record whose timestamp can exist, the date and time in the user's regional formats
// (QLocale::system(), as the window shows them). Like the window's table, it has one (empty)
// row even when no record makes one.
std::vector<HistoryRow> HistoryTable(const std::vector<HistoryRecord>& records);

}  // namespace nx480::ctl
