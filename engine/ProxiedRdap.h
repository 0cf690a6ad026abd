#pragma once

// An RDAP query of a job through the batch's proxies: the next usable one of
// the rotation, and past each that fails (set aside) the next. No Qt here.

#include "engine/ProxyRotation.h"
#include "engine/RdapClient.h"

// connections null: a connection of the query's own. proxies null or empty:
// QueryRdap of request as it is. With no usable proxy
// the server is not asked: End OtherError, Error NoUsableProxyText with the
// last proxy's failure, ProxyFault None (the rotation has heard of it).
TRdapAnswer QueryRdapThroughRotation(TRdapRequest request, TRdapConnections* connections,
                                     TProxyRotation* proxies);
