#include "app/client_table.h"

const ClientInfo ClientTable[kClientCount] = {
    {"otc", u"OTClient", u"Morvel Global", u"Morvel Global.exe"},
    {"classic", u"Tibia 8.60", u"Morvel Global 8.60", u"Tibia.exe"},
};
