// What a score submission looks like on the wire, for the client that sends it and the server
// that reads it: the score text, this separator, the nickname, and then the end marker, as two
// sends with nothing around them.
#pragma once

namespace ScoreProtocol {

inline constexpr char Separator[] = "           By ";
inline constexpr char EndMarker[] = "data";
inline constexpr int DefaultPort = 1337;
// Where a client reconnects after a socket error.
inline constexpr int ReconnectPort = 1338;
// What a server takes: a nickname of at most this many characters, a score of at most this many
// seconds.
inline constexpr int MaxNicknameLength = 10;
inline constexpr double MaxScore = 100000.0;

} // namespace ScoreProtocol
