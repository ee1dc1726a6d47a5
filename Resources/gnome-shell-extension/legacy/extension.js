// Trevlin's GNOME Shell extension (GNOME 42 to 44): publishes the pid of the
// focused window on the session bus, so Trevlin knows the app in front; GNOME
// Shell tells no other program on Wayland. It changes nothing in the shell.
// Same behaviour as the module for GNOME 45 and later, in the older format.
const {Gio, GLib} = imports.gi;

const BUS_NAME = 'app.trevlin.FrontWindow';
const OBJECT_PATH = '/app/trevlin/FrontWindow';
const INTERFACE = `
<node>
  <interface name="app.trevlin.FrontWindow">
    <property name="Pid" type="i" access="read"/>
  </interface>
</node>`;

class TrevlinFrontExtension {
    enable() {
        // The object first, the name second: whoever sees the name appear
        // finds the object there.
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
        this._focusId = global.display.connect('notify::focus-window',
            () => this._object.emit_property_changed('Pid', new GLib.Variant('i', this.Pid)));
    }

    disable() {
        global.display.disconnect(this._focusId);
        Gio.bus_unown_name(this._nameId);
        this._object.unexport();
        this._object = null;
    }

    // 0: no window has the focus; -1: a window whose process is not known.
    get Pid() {
        const window = global.display.focus_window;
        if (!window)
            return 0;
        const pid = window.get_pid();
        return pid > 0 ? pid : -1;
    }
}

function init() {
    return new TrevlinFrontExtension();
}
