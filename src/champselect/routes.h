// The plug-in's REST routes under "/tov-vover-orevid-aredez/v1/", in their
// fixed order.
#pragma once

namespace Vexa {
class Remoting;
}

namespace Vexa::Client::VoverOrevidAredez {

class ChampSelect;

void RegisterChampSelectRoutes(Remoting& remoting, ChampSelect& champSelect);

}  // namespace Vexa::Client::VoverOrevidAredez
