// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A failing serial device operation throws CommError: an error number and a description text
// for the operator. The port logic tells 8002 (no such port) and 8005 (port in use) apart and
// treats every other number alike; wherever a description reaches the operator it names the
// device path and the operating system's reason where there is one.

#include <QString>
#include <exception>
#include <string>

namespace logic {

namespace comm_error {
inline constexpr int kInvalidPropertyValue = 380;
inline constexpr int kPortNotFound = 8002;
inline constexpr int kPortAlreadyOpen = 8005;
inline constexpr int kPortNotOpen = 8018;
}  // namespace comm_error

class CommError : public std::exception {
public:
    CommError(int number, QString description)
        : m_number(number),
          m_description(std::move(description)),
          m_what(m_description.toStdString()) {}

    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    int m_number = 0;
    QString m_description;
    std::string m_what;
};

}  // namespace logic
