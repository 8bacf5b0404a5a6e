#pragma once

#include <QString>

// What the login window and the add-gap dialog tell the user when a login
// (SocketTools::connectToGapHost) did not succeed. Both word each result the same way.
namespace LoginResultText {

// The message for a result other than success. A login without rules leaves a message of its
// own (SocketTools::notice), which says all there is to say; it is passed as notice.
QString forFailure(int result, const QString &notice);

} // namespace LoginResultText
