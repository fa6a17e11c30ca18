"""The Ansible example: the deployment guide (docs/deployment.md) shows the playbook as it
stands, and Ansible's own tools (ansible-playbook, ansible-lint, ansible-doc) accept it. Runs
offline, with a home and settings of its own so that no user's configuration or collections
take part."""
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import yaml

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PLAYBOOK = os.path.join(ROOT, "examples", "ansible", "tvx2.yml")
DEPLOYMENT = os.path.join(ROOT, "docs", "deployment.md")

# Keys that hold lists of tasks, in plays and in blocks.
TASK_LISTS = ("pre_tasks", "tasks", "post_tasks", "handlers", "block", "rescue", "always")


def offline_prefix():
    """unshare --net where it works (root), so the tools cannot reach the network."""
    try:
        if subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode == 0:
            return ["unshare", "--net"]
    except OSError:
        pass
    return []


class Tools:
    """The Ansible tools run with a fixed environment: only PATH and a UTF-8 locale are taken
    from the caller; home, configuration, collections and caches are a fresh folder."""

    def __init__(self):
        self.home = tempfile.mkdtemp(prefix="tvx2-ansible-")
        config = os.path.join(self.home, "ansible.cfg")
        open(config, "w").close()
        self.inventory = os.path.join(self.home, "hosts")
        with open(self.inventory, "w") as f:
            f.write("[tvx2_servers]\nserver1\n")
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            "HOME": self.home,
            "XDG_CACHE_HOME": os.path.join(self.home, "cache"),
            "XDG_CONFIG_HOME": os.path.join(self.home, "config"),
            "ANSIBLE_CONFIG": config,
            # Only the collections Debian's packages install (found on Python's path).
            "ANSIBLE_COLLECTIONS_PATH": os.path.join(self.home, "collections"),
            "ANSIBLE_ROLES_PATH": os.path.join(self.home, "roles"),
            "ANSIBLE_LOCAL_TEMP": os.path.join(self.home, "tmp"),
            "ANSIBLE_NOCOLOR": "1",
            "NO_COLOR": "1",
        }
        self.prefix = offline_prefix()

    def start(self, *args, cwd=None, **env):
        """Starts a tool; finish() waits for it. The slow ones run side by side."""
        return subprocess.Popen(self.prefix + list(args), cwd=cwd or self.home,
                                env=dict(self.env, **env), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)

    @staticmethod
    def finish(process):
        out, err = process.communicate()
        return subprocess.CompletedProcess(process.args, process.returncode, out, err)

    def run(self, *args, cwd=None):
        return self.finish(self.start(*args, cwd=cwd))

    def doc(self, *names, kind="module"):
        r = self.run("ansible-doc", "-t", kind, "-j", *names)
        if r.returncode != 0:
            raise AssertionError("ansible-doc %s failed:\n%s%s" % (names, r.stdout, r.stderr))
        return json.loads(r.stdout)

    def close(self):
        shutil.rmtree(self.home, ignore_errors=True)


def tasks_of(node):
    """Every task in plays, blocks and handlers, blocks themselves left out."""
    for key in TASK_LISTS:
        for task in node.get(key) or []:
            if any(k in task for k in ("block", "rescue", "always")):
                yield from tasks_of(task)
            else:
                yield task


def type_error(value, option):
    """Why the value does not fit the option as ansible-doc describes it, or None."""
    if isinstance(value, str) and "{{" in value:
        return None  # a template: its type is known only when it runs
    kind = option.get("type", "str")
    if kind == "raw":
        return None
    if kind in ("str", "path"):
        ok = isinstance(value, str)
    elif kind == "int":
        ok = isinstance(value, int) and not isinstance(value, bool)
    elif kind == "float":
        ok = isinstance(value, (int, float)) and not isinstance(value, bool)
    elif kind == "bool":
        ok = isinstance(value, bool)
    elif kind == "dict":
        ok = isinstance(value, dict)
    elif kind == "list":
        if not isinstance(value, list):
            return "is not a list"
        for item in value:
            why = type_error(item, {"type": option.get("elements", "raw")})
            if why:
                return "has an element %r that %s" % (item, why)
        ok = True
    else:
        return "has type %s, which this check does not know" % kind
    if not ok:
        return "is not of type %s" % kind
    if "choices" in option and value not in option["choices"]:
        return "is not one of %s" % option["choices"]
    return None


def option_faults(plays, keywords, docs):
    """Each task's module options checked against the module's documentation."""
    faults = []
    for play in plays:
        for task in tasks_of(play):
            modules = [k for k in task if k not in keywords]
            if len(modules) != 1:
                faults.append("%r: not one module but %s" % (task.get("name"), modules))
                continue
            module = modules[0]
            if module not in docs:
                faults.append("%r: ansible-doc knows no module %s" % (task.get("name"), module))
                continue
            options = docs[module]["doc"].get("options") or {}
            names = {}
            for name, option in options.items():
                for alias in [name] + (option.get("aliases") or []):
                    names[alias] = option
            given = task[module] or {}
            for opt, value in given.items():
                if opt not in names:
                    faults.append("%s: no option %s" % (module, opt))
                    continue
                why = type_error(value, names[opt])
                if why:
                    faults.append("%s: %s=%r %s" % (module, opt, value, why))
            for name, option in options.items():
                if option.get("required") and not any(
                        a in given for a in [name] + (option.get("aliases") or [])):
                    faults.append("%s: required option %s missing" % (module, name))
    return faults


def modules_used(plays, keywords):
    return sorted({k for play in plays for task in tasks_of(play) for k in task
                   if k not in keywords})


class AnsibleExample(unittest.TestCase):
    @classmethod
    def begin(cls):
        cls.tools = Tools()
        with open(PLAYBOOK, encoding="utf-8") as f:
            cls.text = f.read()
        cls.plays = yaml.safe_load(cls.text)
        # Run from the repository, where ansible-lint lints the file (outside its project
        # folder it would count the file out and pass on 0 files).
        cls.lint = cls.tools.start("ansible-lint", "--offline", "--profile", "production",
                                   "--nocolor", "-p", os.path.relpath(PLAYBOOK, ROOT), cwd=ROOT)
        cls.syntax = cls.tools.start("ansible-playbook", "--syntax-check",
                                     "-i", cls.tools.inventory, PLAYBOOK)

    @classmethod
    def setUpClass(cls):
        # After setUpModule has started the slow tools of both classes.
        cls.keywords = set(cls.tools.doc("-l", kind="keyword"))
        cls.docs = cls.tools.doc(*modules_used(cls.plays, cls.keywords))

    @classmethod
    def end(cls):
        for process in (cls.lint, cls.syntax):
            Tools.finish(process)
        cls.tools.close()

    def test_deployment_guide_shows_the_playbook_as_it_stands(self):
        with open(DEPLOYMENT, encoding="utf-8") as f:
            guide = f.read()
        section = guide.split("\n## Ansible\n", 1)[1].split("\n## ", 1)[0]
        blocks = re.findall(r"^```yaml\n(.*?)^```$", section, re.M | re.S)
        self.assertEqual(len(blocks), 1, "one yaml block in the Ansible section")
        self.assertEqual(blocks[0], self.text)

    def test_ansible_playbook_syntax_check_passes(self):
        r = Tools.finish(self.syntax)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_ansible_lint_finds_nothing_with_the_production_profile(self):
        r = Tools.finish(self.lint)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("on 1 files", r.stderr)

    def test_every_module_option_is_documented_with_its_type_and_choices(self):
        self.assertEqual(modules_used(self.plays, self.keywords),
                         ["ansible.builtin.fail", "ansible.windows.win_command",
                          "ansible.windows.win_package", "ansible.windows.win_reboot"])
        self.assertEqual(option_faults(self.plays, self.keywords, self.docs), [])
        # The removal relies on this: with no path, the entry's quiet command is what runs.
        notes = self.docs["ansible.windows.win_package"]["doc"].get("notes", [])
        self.assertTrue(any("path is not set" in n and "QuietUninstallString" in n
                            for n in notes), notes)

    def test_the_option_check_finds_a_fault_in_each_row(self):
        rows = [
            ("product_id: TVX2HostSoftware", "product_code: TVX2HostSoftware",
             "ansible.windows.win_package: no option product_code"),
            ("expected_return_code: [0, 1]", "expected_return_code: [0, one]",
             "ansible.windows.win_package: expected_return_code=[0, 'one'] has an element "
             "'one' that is not of type int"),
            ("expected_return_code: [0, 1]", "expected_return_code: 0",
             "ansible.windows.win_package: expected_return_code=0 is not a list"),
            ("state: absent", "state: removed",
             "ansible.windows.win_package: state='removed' is not one of ['absent', 'present']"),
            ("chdir: C:\\Deploy\\tvx2", "chdir: [C:\\Deploy\\tvx2]",
             "ansible.windows.win_command: chdir=['C:\\\\Deploy\\\\tvx2'] is not of type path"),
            ("ansible.windows.win_reboot:\n          when: tvx2_verify",
             "ansible.windows.win_reboot:\n            reboot_timeout: soon\n"
             "          when: tvx2_verify",
             "ansible.windows.win_reboot: reboot_timeout='soon' is not of type float"),
        ]
        for old, new, fault in rows:
            with self.subTest(new=new):
                self.assertIn(old, self.text)
                plays = yaml.safe_load(self.text.replace(old, new, 1))
                self.assertIn(fault, option_faults(plays, self.keywords, self.docs))


# Stand-ins for the three Windows modules, found before Debian's collection: each call is
# recorded, and win_command and win_package answer with the next exit code of their host's
# queue (the host is named to the module by its interpreter's environment), win_package failing
# as the real one does for a code it was not told to expect.
FAKE_COMMON = """
import json, os
from ansible.module_utils.basic import AnsibleModule
d = os.path.join(os.environ["TVX2_FAKE"], os.environ["TVX2_HOST"])
def record(call):
    with open(os.path.join(d, "calls"), "a") as f:
        f.write(json.dumps(call, sort_keys=True) + "\\n")
def next_code():
    with open(os.path.join(d, "codes")) as f:
        codes = f.read().split()
    with open(os.path.join(d, "codes"), "w") as f:
        f.write(" ".join(codes[1:]))
    return int(codes[0])
"""
FAKE_WIN_PACKAGE = FAKE_COMMON + """
m = AnsibleModule(dict(path={}, chdir={}, arguments={"type": "raw"}, product_id={},
                       expected_return_code={"type": "list", "elements": "int",
                                             "default": [0, 3010]},
                       state={"default": "present"}))
record({k: v for k, v in m.params.items() if v is not None})
rc = next_code()
if rc not in m.params["expected_return_code"]:
    m.fail_json(msg="unexpected rc", rc=rc)
# As the real one, it says "not failed" itself: Ansible takes any other rc for a failure.
m.exit_json(changed=True, failed=False, rc=rc, reboot_required=rc == 3010)
"""
FAKE_WIN_COMMAND = FAKE_COMMON + """
m = AnsibleModule(dict(argv={"type": "list", "elements": "str"}, chdir={"type": "path"}))
record({k: v for k, v in m.params.items() if v is not None})
rc = next_code()
# As the real one: a command that does not end 0 fails unless failed_when says otherwise.
if rc != 0:
    m.fail_json(msg="non-zero return code", rc=rc, changed=True)
m.exit_json(changed=True, rc=rc)
"""
FAKE_WIN_REBOOT = FAKE_COMMON + """
m = AnsibleModule({})
record("reboot")
m.exit_json(changed=True)
"""


class PlaybookRuns(unittest.TestCase):
    """The playbook's own logic run on local stand-in hosts: which exit codes fail the host,
    which restart the server, which are retried, and what each call hands the modules."""
    maxDiff = None
    BEFORE, INSTALL, VERIFY, REBOOT, AFTER, CARD = (
        "Ask the package's SETUP.EXE -V whether the installation is whole",
        "Run SETUP.EXE -N from the package folder", "Verify the installation",
        "Restart when a file waits for it", "Verify the installation after the restart",
        "Look at the card")
    REMOVE = "Run the uninstall entry's quiet command", "Restart when the removal asks for it"

    @classmethod
    def begin(cls):
        cls.tools = Tools()
        home = cls.tools.home
        modules = os.path.join(home, "collections", "ansible_collections", "ansible", "windows",
                               "plugins", "modules")
        os.makedirs(modules)
        for name, text in (("win_package", FAKE_WIN_PACKAGE), ("win_reboot", FAKE_WIN_REBOOT),
                           ("win_command", FAKE_WIN_COMMAND)):
            with open(os.path.join(modules, name + ".py"), "w") as f:
                f.write(text)
        with open(PLAYBOOK, encoding="utf-8") as f:
            text = f.read()
        # The retries' minute apart would only slow the test.
        assert text.count("delay: 60\n") == 2
        cls.playbook = os.path.join(home, "tvx2.yml")
        with open(cls.playbook, "w") as f:
            f.write(text.replace("delay: 60\n", "delay: 0\n"))
        cls.tools.env.update(ANSIBLE_STDOUT_CALLBACK="ansible.posix.json", ANSIBLE_FORKS="10")
        # Each host's exit codes, in the order its calls take them.
        cls.runs = {
            "install": cls.start("install", {
                "whole": [0],
                "older-or-damaged": [2, 0, 0],
                "rc1": [2, 1, 1, 0],
                "rc16-restart": [2, 16, 1, 0],
                "rc8": [2, 8],
                "busy-then-0": [2, 1618, 0, 0],
                "busy-always": [2, 1618, 1618, 1618, 1618],
                "not-whole": [2, 0, 2],
                "not-whole-after-restart": [2, 0, 1, 1],
            }),
            "remove": cls.start("remove", {"rc0": [0], "rc2": [2], "busy-then-1": [1618, 1]},
                                "-e", "tvx2_state=absent"),
        }

    @classmethod
    def end(cls):
        for process, _ in cls.runs.values():
            Tools.finish(process)
        cls.tools.close()

    @classmethod
    def start(cls, name, hosts, *extra):
        """Starts the playbook on the hosts, each with its queue of exit codes."""
        fake = os.path.join(cls.tools.home, name)
        lines = []
        for host, codes in hosts.items():
            os.makedirs(os.path.join(fake, host))
            with open(os.path.join(fake, host, "codes"), "w") as f:
                f.write(" ".join(str(c) for c in codes))
            open(os.path.join(fake, host, "calls"), "w").close()
            lines.append("%s ansible_connection=local ansible_python_interpreter="
                         "'/usr/bin/env TVX2_HOST=%s /usr/bin/python3'\n" % (host, host))
        inventory = os.path.join(fake, "hosts")
        with open(inventory, "w") as f:
            f.write("[tvx2_servers]\n" + "".join(lines))
        return cls.tools.start("ansible-playbook", "-i", inventory, cls.playbook, *extra,
                               TVX2_FAKE=fake), fake

    def outcome(self, name):
        """Each task's outcome per host, and the calls each host's modules saw."""
        process, fake = self.runs[name]
        r = Tools.finish(process)
        self.assertIn(r.returncode, (0, 2), r.stdout + r.stderr)
        outcome = {}
        for task in json.loads(r.stdout)["plays"][0]["tasks"]:
            for host, res in task["hosts"].items():
                state = ("skipped" if res.get("skipped") else
                         "failed" if res.get("failed") else
                         "changed" if res.get("changed") else "ok")
                if "rc" in res:
                    state += " rc %d" % res["rc"]
                outcome.setdefault(host, []).append((task["task"]["name"], state))
        calls = {}
        for host in outcome:
            with open(os.path.join(fake, host, "calls")) as f:
                calls[host] = [json.loads(line) for line in f]
            with open(os.path.join(fake, host, "codes")) as f:
                self.assertEqual(f.read(), "", "every exit code of %s served" % host)
        return outcome, calls

    def test_installation_by_the_answer_of_verification_and_setup(self):
        outcome, calls = self.outcome("install")
        removal = [(task, "skipped") for task in self.REMOVE]
        skipped = lambda *tasks: [(task, "skipped") for task in tasks]
        checked = lambda rc: [(self.BEFORE, "ok rc %d" % rc)]
        installed = lambda rc: checked(2) + [(self.INSTALL, "changed rc %d" % rc)]
        self.assertEqual(outcome, {
            # Whole and of this release: nothing runs but the question, and nothing changed.
            "whole": checked(0) + skipped(self.INSTALL, self.VERIFY, self.REBOOT, self.AFTER,
                                          self.CARD) + removal,
            "older-or-damaged": installed(0) + [(self.VERIFY, "ok rc 0")]
            + skipped(self.REBOOT, self.AFTER, self.CARD) + removal,
            "rc1": installed(1) + [(self.VERIFY, "ok rc 1"), (self.REBOOT, "changed"),
                                   (self.AFTER, "ok rc 0"), (self.CARD, "skipped")] + removal,
            # 16 says nothing of the restart: -V does, and the host then fails for the card.
            "rc16-restart": installed(16) + [(self.VERIFY, "ok rc 1"), (self.REBOOT, "changed"),
                                             (self.AFTER, "ok rc 0"), (self.CARD, "failed")],
            "rc8": checked(2) + [(self.INSTALL, "failed rc 8")],
            "busy-then-0": installed(0) + [(self.VERIFY, "ok rc 0")]
            + skipped(self.REBOOT, self.AFTER, self.CARD) + removal,
            "busy-always": checked(2) + [(self.INSTALL, "failed rc 1618")],
            "not-whole": installed(0) + [(self.VERIFY, "failed rc 2")],
            "not-whole-after-restart": installed(0) + [(self.VERIFY, "ok rc 1"),
                                                       (self.REBOOT, "changed"),
                                                       (self.AFTER, "failed rc 1")],
        })
        verify = {"argv": ["C:\\Deploy\\tvx2\\SETUP.EXE", "-V"], "chdir": "C:\\Deploy\\tvx2"}
        install = {"argv": ["C:\\Deploy\\tvx2\\SETUP.EXE", "-N"], "chdir": "C:\\Deploy\\tvx2"}
        restarted = [verify, install, verify, "reboot", verify]
        # Four tries in all for the one that stays busy.
        self.assertEqual(calls, {
            "whole": [verify], "older-or-damaged": [verify, install, verify],
            "rc1": restarted, "rc16-restart": restarted, "rc8": [verify, install],
            "busy-then-0": [verify, install, install, verify],
            "busy-always": [verify] + [install] * 4, "not-whole": [verify, install, verify],
            "not-whole-after-restart": restarted,
        })

    def test_removal_by_exit_code(self):
        outcome, calls = self.outcome("remove")
        installation = [(task, "skipped") for task in (self.BEFORE, self.INSTALL, self.VERIFY,
                                                        self.REBOOT, self.AFTER, self.CARD)]
        remove, reboot = self.REMOVE
        self.assertEqual(outcome, {
            "rc0": installation + [(remove, "changed rc 0"), (reboot, "skipped")],
            "rc2": installation + [(remove, "failed rc 2")],
            "busy-then-1": installation + [(remove, "changed rc 1"), (reboot, "changed")],
        })
        # No path and no arguments: win_package runs the entry's QuietUninstallString as it is.
        entry = {"product_id": "TVX2HostSoftware", "expected_return_code": [0, 1],
                 "state": "absent"}
        self.assertEqual(calls, {"rc0": [entry], "rc2": [entry],
                                 "busy-then-1": [entry, entry, "reboot"]})


def setUpModule():
    # Both start their tools at once: ansible-lint and the playbook runs take the longest.
    AnsibleExample.begin()
    PlaybookRuns.begin()


def tearDownModule():
    AnsibleExample.end()
    PlaybookRuns.end()


if __name__ == "__main__":
    unittest.main()
