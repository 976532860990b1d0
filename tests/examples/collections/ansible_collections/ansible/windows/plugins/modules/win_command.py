#!/usr/bin/python
# win_command for the example playbook's test: runs the command line here,
# the ferrule it names being FERRULE_EXE (the stand-in build), on the host's
# own machine description.
import os
import shlex
import subprocess

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(argument_spec={"_raw_params": {"type": "str"}, "cmd": {"type": "str"}})
    line = module.params["_raw_params"] or module.params["cmd"]
    words = shlex.split(line)
    words[0] = os.environ["FERRULE_EXE"]
    done = subprocess.run(words, capture_output=True, text=True)
    module.exit_json(changed=True, rc=done.returncode, stdout=done.stdout, stderr=done.stderr,
                     stdout_lines=done.stdout.splitlines(), stderr_lines=done.stderr.splitlines(), cmd=line)


if __name__ == "__main__":
    main()
