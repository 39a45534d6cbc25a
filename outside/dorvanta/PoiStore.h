// A point-of-interest database file (*.pdb) of the database server: the
// points of one map's point-of-interest file, or the user's own points, each
// under the key the map's point names it by, with its name, category,
// position, address and phone. PLACEHOLDER: being written.
#pragma once
