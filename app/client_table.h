#pragma once
#include <cstddef>
#include <cstdint>

enum class ClientKind : int32_t { None = -1, OTClient = 0, Classic = 1 };

// How many clients there are: the size of ClientTable and of every array kept per client.
constexpr int kClientCount = 2;
// Both clients, in table order.
constexpr ClientKind kClientKinds[kClientCount] = {ClientKind::OTClient, ClientKind::Classic};

struct ClientInfo {
  const char* key;             // names the client in the manifest
  const char16_t* label;       // shown in status texts
  const char16_t* folderName;  // folder under the install folder
  const char16_t* exeName;     // started by the launch; its presence means installed
};

// Indexed by ClientKind: 0 OTClient, 1 Classic.
extern const ClientInfo ClientTable[kClientCount];

// Whether `client` is one of the two clients, the only values that index
// ClientTable and the arrays kept per client.
constexpr bool IsClient(ClientKind client) { return client == ClientKind::OTClient || client == ClientKind::Classic; }
// Its index in those arrays; only for a client that IsClient.
constexpr size_t ClientIndex(ClientKind client) { return static_cast<size_t>(client); }

// The row of a client other than None.
inline const ClientInfo& InfoOf(ClientKind client) { return ClientTable[ClientIndex(client)]; }
