#pragma once

struct ClientInfo {
  const char* key;             // names the client in the manifest
  const char16_t* label;       // shown in status texts
  const char16_t* folderName;  // folder under the install folder
  const char16_t* exeName;     // started by the launch; its presence means installed
};

// Indexed by ClientKind: 0 OTClient, 1 Classic.
extern const ClientInfo ClientTable[2];
