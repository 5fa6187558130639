// The entry of the simulated grandmaster and slave programs.
#pragma once

namespace simpeer {

int program_main(int argc, char **argv, bool grandmaster);

} // namespace simpeer
