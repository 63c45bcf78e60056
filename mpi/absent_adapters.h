// OpenMPI's start, before MPI_Init: transports whose adapter this host lacks
// are left out where that changes nothing but the time MPI takes to start.
#pragma once

// Where OpenMPI reads its system-wide parameters (its sysconfdir, as the
// build found it), or empty when unknown: then nothing is left out.
extern const char* const kOpenMpiConfigFolder;

// Without an Omni-Path (/dev/hfi1*) or InfiniPath (/dev/ipath*) device, and
// unless the user or a parameter file chose the message transports (the
// `mtl` parameter) otherwise than by exclusion, excludes the psm2 and psm
// components through OMPI_MCA_mtl: their libraries spend 0.1 s each
// calibrating a clock as they load, before the components find no device.
// Called before any other thread runs.
void LeaveOutAbsentAdapters();
