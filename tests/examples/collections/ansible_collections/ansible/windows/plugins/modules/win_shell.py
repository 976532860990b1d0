#!/usr/bin/python
# win_shell for the example playbook's test: answers the one question the
# playbook asks Windows, an adapter's InterfaceGuid by its connection name,
# from the host's FERRULE_TEST_ADAPTERS ("NAME=GUID;..."), as Get-NetAdapter
# would, failing for a name it lacks.
import os
import re

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(argument_spec={"_raw_params": {"type": "str"}})
    script = module.params["_raw_params"]
    asked = re.search(r"Get-NetAdapter -Name '([^']*)'", script)
    adapters = dict(pair.split("=", 1) for pair in os.environ.get("FERRULE_TEST_ADAPTERS", "").split(";") if pair)
    if not asked or asked.group(1) not in adapters:
        module.fail_json(msg="No MSFT_NetAdapter objects found", rc=1, stdout="", stdout_lines=[])
    guid = adapters[asked.group(1)]
    module.exit_json(changed=True, rc=0, stdout=guid + "\r\n", stdout_lines=[guid])


if __name__ == "__main__":
    main()
