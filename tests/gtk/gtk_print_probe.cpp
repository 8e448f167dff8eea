// r2740-gtk-probe: GTK 3's own print dialog (GtkPrintUnixDialog with its
// CUPS backend, as every GNOME application shows it), opened on one CUPS
// queue and worked as a user would, for the tests: it lists what each tab
// shows, takes screenshots of tabs, chooses items and types into fields
// by their captions, and prints a document with the dialog's settings the
// way GtkPrintOperation does (GtkPrintJob). Needs a display (Xvfb).
//
// r2740-gtk-probe --printer NAME [--set CAPTION=VALUE]... [--list]
//                 [--shot TAB=FILE.png]... [--print FILE] [--timeout S]
// --list prints "tab TAB", then "  group TEXT" and
// "  option CAPTION: KIND = SHOWN" lines (KIND combo, entry, combo+entry,
// check, other). Exit status: 0 done, 1 the printer or a caption was not
// found in time, 2 bad arguments, 3 printing failed.
#include <gtk/gtk.h>
#include <gtk/gtkunixprint.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Options {
  std::string printer, document;
  std::vector<std::pair<std::string, std::string>> sets, shots;
  bool list = false;
  int timeout = 30;
};

Options opts;
GtkWidget* dialog = nullptr;
int status = 0;

void Walk(GtkWidget* w, const std::function<void(GtkWidget*)>& f) {
  f(w);
  if (GTK_IS_CONTAINER(w)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(w));
    for (GList* c = children; c; c = c->next) Walk(GTK_WIDGET(c->data), f);
    g_list_free(children);
  }
}

bool IsOptionWidget(GtkWidget* w) { return std::strcmp(G_OBJECT_TYPE_NAME(w), "GtkPrinterOptionWidget") == 0; }

// A caption as a user reads it: no mnemonic mark, no colon.
std::string Caption(GtkWidget* label) {
  std::string t = gtk_label_get_text(GTK_LABEL(label));
  while (!t.empty() && (t.back() == ':' || t.back() == ' ')) t.pop_back();
  return t;
}

// The caption of an option widget: the label whose mnemonic widget it is,
// or a check box's own label.
std::string CaptionOf(GtkWidget* option) {
  std::string found;
  Walk(option, [&](GtkWidget* w) {
    if (found.empty() && GTK_IS_CHECK_BUTTON(w)) found = gtk_button_get_label(GTK_BUTTON(w)) ?: "";
  });
  if (!found.empty()) return found;
  Walk(dialog, [&](GtkWidget* w) {
    if (GTK_IS_LABEL(w) && gtk_label_get_mnemonic_widget(GTK_LABEL(w)) == option) found = Caption(w);
  });
  return found;
}

GtkWidget* Find(GtkWidget* root, GType type) {
  GtkWidget* found = nullptr;
  Walk(root, [&](GtkWidget* w) {
    if (!found && G_TYPE_CHECK_INSTANCE_TYPE(w, type) && gtk_widget_get_visible(w)) found = w;
  });
  return found;
}

std::string Describe(GtkWidget* option, std::string* kind) {
  GtkWidget* combo = Find(option, GTK_TYPE_COMBO_BOX);
  GtkWidget* entry = Find(option, GTK_TYPE_ENTRY);
  GtkWidget* check = Find(option, GTK_TYPE_CHECK_BUTTON);
  if (combo && gtk_combo_box_get_has_entry(GTK_COMBO_BOX(combo))) {
    *kind = "combo+entry";
    return gtk_entry_get_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo))));
  }
  if (combo) {
    *kind = "combo";
    GtkTreeIter it;
    gchar* text = nullptr;
    if (gtk_combo_box_get_active_iter(GTK_COMBO_BOX(combo), &it))
      gtk_tree_model_get(gtk_combo_box_get_model(GTK_COMBO_BOX(combo)), &it, 0, &text, -1);
    std::string s = text ? text : "";
    g_free(text);
    return s;
  }
  if (entry) {
    *kind = "entry";
    return gtk_entry_get_text(GTK_ENTRY(entry));
  }
  if (check) {
    *kind = "check";
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check)) ? "on" : "off";
  }
  *kind = "other";
  return "";
}

GtkNotebook* Notebook() { return GTK_NOTEBOOK(Find(dialog, GTK_TYPE_NOTEBOOK)); }

void Settle() {
  for (int i = 0; i < 20; ++i) {
    while (gtk_events_pending()) gtk_main_iteration();
    g_usleep(10000);
  }
}

void List() {
  GtkNotebook* nb = Notebook();
  for (int i = 0; nb && i < gtk_notebook_get_n_pages(nb); ++i) {
    GtkWidget* page = gtk_notebook_get_nth_page(nb, i);
    if (!gtk_widget_get_visible(page)) continue;
    const char* tab = gtk_notebook_get_tab_label_text(nb, page);
    std::printf("tab %s\n", tab ? tab : "?");
    Walk(page, [&](GtkWidget* w) {
      if (!gtk_widget_get_visible(w)) return;
      if (GTK_IS_LABEL(w) && gtk_label_get_use_markup(GTK_LABEL(w)))  // group headings are bold markup
        std::printf("  group %s\n", gtk_label_get_text(GTK_LABEL(w)));
      if (IsOptionWidget(w)) {
        std::string kind, shown = Describe(w, &kind);
        std::printf("  option %s: %s = %s\n", CaptionOf(w).c_str(), kind.c_str(), shown.c_str());
      }
    });
  }
  std::fflush(stdout);
}

bool Set(const std::string& caption, const std::string& value) {
  GtkWidget* option = nullptr;
  Walk(dialog, [&](GtkWidget* w) {
    if (!option && IsOptionWidget(w) && gtk_widget_get_visible(w) && CaptionOf(w) == caption) option = w;
  });
  if (!option) return false;
  GtkWidget* combo = Find(option, GTK_TYPE_COMBO_BOX);
  GtkWidget* check = Find(option, GTK_TYPE_CHECK_BUTTON);
  if (combo) {
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(combo));
    GtkTreeIter it;
    for (bool ok = gtk_tree_model_get_iter_first(model, &it); ok; ok = gtk_tree_model_iter_next(model, &it)) {
      gchar* text = nullptr;
      gtk_tree_model_get(model, &it, 0, &text, -1);
      bool match = text && value == text;
      g_free(text);
      if (match) {
        gtk_combo_box_set_active_iter(GTK_COMBO_BOX(combo), &it);
        return true;
      }
    }
    if (!gtk_combo_box_get_has_entry(GTK_COMBO_BOX(combo))) return false;
    // Typed, as a user types into the field.
    gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo))), value.c_str());
    return true;
  }
  if (GtkWidget* entry = Find(option, GTK_TYPE_ENTRY)) {
    gtk_entry_set_text(GTK_ENTRY(entry), value.c_str());
    return true;
  }
  if (check) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), value == "True" || value == "on");
    return true;
  }
  return false;
}

bool Shot(const std::string& tab, const std::string& file) {
  GtkNotebook* nb = Notebook();
  for (int i = 0; nb && i < gtk_notebook_get_n_pages(nb); ++i) {
    GtkWidget* page = gtk_notebook_get_nth_page(nb, i);
    const char* label = gtk_notebook_get_tab_label_text(nb, page);
    if (!label || tab != label || !gtk_widget_get_visible(page)) continue;
    gtk_notebook_set_current_page(nb, i);
    Settle();
    GdkWindow* win = gtk_widget_get_window(dialog);
    GdkPixbuf* pix = gdk_pixbuf_get_from_window(win, 0, 0, gdk_window_get_width(win), gdk_window_get_height(win));
    bool ok = pix && gdk_pixbuf_save(pix, file.c_str(), "png", nullptr, nullptr);
    if (pix) g_object_unref(pix);
    return ok;
  }
  return false;
}

void Sent(GtkPrintJob*, gpointer, const GError* error) {
  if (error) {
    std::fprintf(stderr, "r2740-gtk-probe: printing failed: %s\n", error->message);
    status = 3;
  }
  gtk_main_quit();
}

bool Print() {
  GtkPrinter* printer = gtk_print_unix_dialog_get_selected_printer(GTK_PRINT_UNIX_DIALOG(dialog));
  GtkPrintSettings* settings = gtk_print_unix_dialog_get_settings(GTK_PRINT_UNIX_DIALOG(dialog));
  GtkPageSetup* setup = gtk_print_unix_dialog_get_page_setup(GTK_PRINT_UNIX_DIALOG(dialog));
  GtkPrintJob* job = gtk_print_job_new("r2740-gtk-probe", printer, settings, setup);
  GError* error = nullptr;
  if (!gtk_print_job_set_source_file(job, opts.document.c_str(), &error)) {
    std::fprintf(stderr, "r2740-gtk-probe: %s\n", error ? error->message : "cannot read the document");
    status = 3;
    return false;
  }
  gtk_print_job_send(job, Sent, nullptr, nullptr);
  g_object_unref(settings);
  return true;
}

gboolean Poll(gpointer) {
  static gint64 start = g_get_monotonic_time();
  GtkPrinter* p = gtk_print_unix_dialog_get_selected_printer(GTK_PRINT_UNIX_DIALOG(dialog));
  bool ready = p && opts.printer == gtk_printer_get_name(p) && gtk_printer_has_details(p);
  if (!ready) {
    if (g_get_monotonic_time() - start > static_cast<gint64>(opts.timeout) * 1000000) {
      std::fprintf(stderr, "r2740-gtk-probe: the dialog did not offer %s within %d s\n", opts.printer.c_str(),
                   opts.timeout);
      status = 1;
      gtk_main_quit();
      return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
  }
  Settle();
  for (const auto& [caption, value] : opts.sets) {
    if (!Set(caption, value)) {
      std::fprintf(stderr, "r2740-gtk-probe: no option \"%s\" offering \"%s\"\n", caption.c_str(), value.c_str());
      status = 1;
    }
    Settle();
  }
  if (opts.list) List();
  for (const auto& [tab, file] : opts.shots)
    if (!Shot(tab, file)) {
      std::fprintf(stderr, "r2740-gtk-probe: no tab \"%s\" to take\n", tab.c_str());
      status = 1;
    }
  if (status == 0 && !opts.document.empty() && Print()) return G_SOURCE_REMOVE;  // Sent() ends it
  gtk_main_quit();
  return G_SOURCE_REMOVE;
}

bool Pair(const char* arg, std::pair<std::string, std::string>* out) {
  const char* eq = std::strchr(arg, '=');
  if (!eq || eq == arg) return false;
  *out = {std::string(arg, eq), eq + 1};
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool more = i + 1 < argc;
    std::pair<std::string, std::string> p;
    if (a == "--printer" && more) {
      opts.printer = argv[++i];
    } else if (a == "--print" && more) {
      opts.document = argv[++i];
    } else if (a == "--timeout" && more) {
      opts.timeout = std::atoi(argv[++i]);
    } else if (a == "--list") {
      opts.list = true;
    } else if ((a == "--set" || a == "--shot") && more && Pair(argv[++i], &p)) {
      (a == "--set" ? opts.sets : opts.shots).push_back(p);
    } else {
      std::fprintf(stderr, "usage: r2740-gtk-probe --printer NAME [--set CAPTION=VALUE]... [--list] "
                           "[--shot TAB=FILE.png]... [--print FILE] [--timeout S]\n");
      return 2;
    }
  }
  if (opts.printer.empty()) return 2;
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "r2740-gtk-probe: no display\n");
    return 1;
  }
  dialog = gtk_print_unix_dialog_new("Print", nullptr);
  GtkPrintSettings* settings = gtk_print_settings_new();
  gtk_print_settings_set_printer(settings, opts.printer.c_str());
  gtk_print_unix_dialog_set_settings(GTK_PRINT_UNIX_DIALOG(dialog), settings);
  g_object_unref(settings);
  gtk_widget_show(dialog);
  g_timeout_add(100, Poll, nullptr);
  gtk_main();
  return status;
}
