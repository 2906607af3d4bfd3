// The Yjs version 1 document library: include this header. Layers, bottom up:
// error.h, lib0.h, any.h, id.h, store.h, update_decoder.h, doc.h, types.h,
// undo_manager.h, update_encoder.h.
#pragma once

#include "crdt/any.h"
#include "crdt/doc.h"
#include "crdt/error.h"
#include "crdt/id.h"
#include "crdt/lib0.h"
#include "crdt/store.h"
#include "crdt/types.h"
#include "crdt/update_decoder.h"
#include "crdt/undo_manager.h"
#include "crdt/update_encoder.h"
