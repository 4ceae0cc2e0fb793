// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What 'zeva-relay list' prints: the COM numbering the window would use now, one port a line in
// fixed tab-separated fields, or the same as a JSON array, for scripts to pick a port by its
// stable name. It opens no port.
//
//   COM  path  state  holder  by-id  description
//
//   state   free, busy (another program holds it) or absent (no device)
//   holder  who holds a busy port: "minicom (pid 4242)", "pid 4242", or the lock file that
//           names no process

#include <QByteArray>
#include <QList>
#include <QString>

#include "app/port_list.h"
#include "serial/port_report.h"

namespace relay {

// Who holds the port `report` describes, as the holder field says it; empty when it is free.
QString holderText(const serial::PortReport& report);

// One line per port, each ended by a newline.
QString portTable(const QList<app::NumberedPort>& ports);

// An array of objects with the keys com, path, state, holder, by_id and description.
QByteArray portJson(const QList<app::NumberedPort>& ports);

}  // namespace relay
