#pragma once

#include <QString>

#include <exception>
#include <optional>

/// What the user can do about a failure, in plain Turkish. `key` names the case.
struct FailureHint
{
    QString key;
    QString text;
    /// Why, when the program can tell more than the hint: which file, which key.
    QString reason = {};

    bool operator==(const FailureHint &) const = default;
};

/// The hint for the failure of a device operation or a firmware load, or nothing when the failure is not one
/// we recognise. The tool's fatal lines are always among the last lines of its output, so
/// the output tail that a failed run carries is enough to tell the cases apart.
[[nodiscard]] std::optional<FailureHint> diagnoseFailure(const std::exception_ptr &failure);

/// The hint for the output text of a failed run of the tool.
[[nodiscard]] std::optional<FailureHint> diagnoseToolOutput(const QString &output);

/// Whether a write failed because the transfer stopped half-way, which a slower try may mend.
[[nodiscard]] bool isTransferFailure(const std::exception_ptr &failure);
