// The simulated hard-disk player's disk as its own firmware leaves it: a fresh partition layout,
// the music volume's folders and an empty music database; and access to the music volume's files
// through a disk of the caller's own (the platform's file system must be started, and nobody
// else may hold the player's transport).
#pragma once

#include <memory>
#include <string>

#include "db/column_table.h"
#include "sim/harddisk/harddisk_player.h"

// An empty database with the columns the player's firmware keeps.
std::unique_ptr<ColumnTable> EmptyPlayerDatabase();

// Lays out and formats the disk, makes "var" and "fids0", and (optionally) an empty database.
Result PreparePlayerDisk(const std::shared_ptr<SimHardDiskPlayer>& player, bool with_database);

// Partition 2 is the music volume, 1 the system volume.
Result ReadPlayerFile(const std::shared_ptr<SimHardDiskPlayer>& player, const std::string& path,
                      std::string* content, int partition = 2);
Result WritePlayerFile(const std::shared_ptr<SimHardDiskPlayer>& player, const std::string& path,
                       const std::string& content);
// The database on the player's disk; null when it is missing or does not load.
std::unique_ptr<ColumnTable> PlayerDatabase(const std::shared_ptr<SimHardDiskPlayer>& player);
