// The member-list codec is shared by every channel that keeps playlists in a database.
#pragma once

#include "devices/playlist_members.h"
