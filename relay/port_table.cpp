// SPDX-License-Identifier: GPL-3.0-or-later
#include "relay/port_table.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace relay {

namespace {

struct Fields {
    QString com;
    QString path;
    QString state;
    QString holder;
    QString byId;
    QString description;
};

Fields fieldsOf(const app::NumberedPort& port) {
    const serial::PortReport& report = port.report;
    QString state = QStringLiteral("free");
    if (report.path.isEmpty() || report.node.isEmpty()) {
        state = QStringLiteral("absent");
    } else if (report.holder != serial::PortReport::Holder::None) {
        state = QStringLiteral("busy");
    }
    return {QStringLiteral("COM%1").arg(port.number),
            report.path,
            state,
            holderText(report),
            report.byIdName,
            report.description};
}

// A field holds no tab or line break, so that a line splits into exactly six.
QString plain(QString text) {
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r') {
            c = u' ';
        }
    }
    return text;
}

}  // namespace

QString holderText(const serial::PortReport& report) {
    using Holder = serial::PortReport::Holder;
    switch (report.holder) {
        case Holder::None:
            return {};
        case Holder::LockNoOne:
            return QStringLiteral("lock file %1, which names no process").arg(report.lockFile);
        case Holder::NotAFile:
            return QStringLiteral("%1, which is not a lock file").arg(report.lockFile);
        case Holder::Lock:
        case Holder::Flock:
        case Holder::OpenFile:
            return report.holderName.isEmpty()
                       ? QStringLiteral("pid %1").arg(report.pid)
                       : QStringLiteral("%1 (pid %2)").arg(report.holderName).arg(report.pid);
    }
    return {};
}

QString portTable(const QList<app::NumberedPort>& ports) {
    QString text;
    for (const app::NumberedPort& port : ports) {
        const Fields f = fieldsOf(port);
        QStringList fields;
        for (const QString& field : {f.com, f.path, f.state, f.holder, f.byId, f.description}) {
            fields.append(plain(field));
        }
        text += fields.join(u'\t') + u'\n';
    }
    return text;
}

QByteArray portJson(const QList<app::NumberedPort>& ports) {
    QJsonArray array;
    for (const app::NumberedPort& port : ports) {
        const Fields f = fieldsOf(port);
        array.append(QJsonObject{{QStringLiteral("com"), f.com},
                                 {QStringLiteral("path"), f.path},
                                 {QStringLiteral("state"), f.state},
                                 {QStringLiteral("holder"), f.holder},
                                 {QStringLiteral("by_id"), f.byId},
                                 {QStringLiteral("description"), f.description}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

}  // namespace relay
