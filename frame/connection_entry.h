#pragma once

// The one connection both launchers bring up: the phonebook entry that the
// dial dialog connects, and the value name of its Connection Manager profile.
inline constexpr char kConnectionEntryName[] = "Conexion a Zel Servicios IP";

static_assert(sizeof(kConnectionEntryName) == 28, "27 characters and a zero");
