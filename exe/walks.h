// The binding configuration engine: the component walk opens, locks and closes
// the network configuration; the binding-path walk works on one component.
#ifndef FERRULE_WALKS_H
#define FERRULE_WALKS_H

#include "platform.h"

// Modes, handed down unchanged from the command line.
enum { MODE_QUERY = -1, MODE_DISABLE = 0, MODE_ENABLE = 1 };

// The component classes, in the order of the command line's class words and
// of the platform's class identifiers; COMPONENT_CLASSES sizes both tables.
enum { CLASS_DEV, CLASS_CLIENT, CLASS_PROTO, CLASS_SERVICE, COMPONENT_CLASSES };

// What a walk returns when it could not do its work: a set-up step of the
// component walk failed, or a component's bindings could not be reached.
enum { WALK_FAILED = -1 };

// The network configuration object; valid only while walkComponents runs.
extern INetCfg* netCfg;

// Walks every component of compClass (0 dev, 1 client, 2 proto, 3 service)
// whose bind name matches compId (all when null) and returns the sum of what
// walkBindingPaths returns for them.
int walkComponents(int compClass, const char* compId, const char* pathToken, int mode);

// Shows or changes the binding paths of one component that match pathTokenWide
// (all when null; only the first when given) and, in a change mode, applies.
int walkBindingPaths(INetCfgComponent* netCfgComp, const WCHAR* pathTokenWide, int mode);

#endif
