#pragma once

// An RDAP query of a job through the batch's proxies: the next usable one of
// the rotation, and past each that fails (set aside) the next. No Qt here.

#include "engine/ProxyRotation.h"
#include "engine/RdapClient.h"

// connections null: a connection of the query's own. proxies null or empty:
// QueryRdap of request as it is. With no usable proxy
// the server is not asked: End OtherError, Error NoUsableProxyText with the
// last proxy's failure, ProxyFault None (the rotation has heard of it).
// firstProxy, when usable, is tried first; served, when not null, receives
// the pick whose attempt reached the server (nothing when none did).
TRdapAnswer QueryRdapThroughRotation(TRdapRequest request, TRdapConnections* connections,
                                     TProxyRotation* proxies,
                                     std::optional<std::size_t> firstProxy = std::nullopt,
                                     std::optional<TProxyPick>* served = nullptr);
