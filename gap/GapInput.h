#pragma once

#include <QString>

struct _VKGAPIP_CONF;

// What the login window and the add-gap dialog both do with the address, user name and password
// the user typed.
namespace GapInput {

// True when the text is an IPv4 or an IPv6 address (not a host name, not empty).
bool isGapAddress(const QString &text);

// Fills a fresh gap record from the typed texts: address, user name and password as Latin-1,
// each cut to its field, every counter, flag and state zero.
void fillGapRecord(
    _VKGAPIP_CONF *gap, const QString &address, const QString &user, const QString &password);

} // namespace GapInput
