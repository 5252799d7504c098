// Exit codes of the command, and of the role processes its supervisor reads.
#pragma once

namespace kqcp_bridge {

inline constexpr int kExitOk = 0;       // ended by a signal; stats printed
inline constexpr int kExitNothing = 1;  // stats: no bridge of the platform answered
inline constexpr int kExitUsage = 2;    // usage error, refused configuration or secret file
inline constexpr int kExitRefused = 3;  // NATS refused the credentials, or TLS failed

// Role processes: kExitRefused and kExitUsage end the supervisor too; the others restart.
inline constexpr int kRoleStopped = 0;
inline constexpr int kRoleUnreachable = 10;   // NATS did not answer
inline constexpr int kRoleNoService = 11;     // export: the platform has no service
inline constexpr int kRoleLinkLost = 12;      // NATS or the other side went away
inline constexpr int kRoleServiceGone = 13;   // export: the real service went away
inline constexpr int kRoleLocalService = 14;  // import: a local service of the name runs
inline constexpr int kRoleNameHeld = 15;      // agent: the client's name is live at the service
inline constexpr int kRoleOwnerGone = 16;     // agent: its import went away (a normal end)
inline constexpr int kRoleFailed = 17;        // anything else

}  // namespace kqcp_bridge
