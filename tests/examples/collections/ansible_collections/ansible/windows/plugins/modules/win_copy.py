#!/usr/bin/python
# win_copy for the example playbook's test: the exe is the stand-in build
# already, so nothing is copied.
from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(argument_spec={"src": {"type": "str"}, "dest": {"type": "str"}})
    module.exit_json(changed=False, dest=module.params["dest"])


if __name__ == "__main__":
    main()
