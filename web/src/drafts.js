// The user's own programs, kept in the browser's local storage as they are
// typed, so that nothing typed is lost: not by picking an example, not by
// opening a shared link, not by reloading. Each draft is a program with its
// input; the most recently edited comes first. What the page showed last is
// kept too, so that opening the page again shows it again.
//
// Several pages of the playground may be open at once: each writes only the
// drafts it changed, into what the storage holds at that moment.

export const STORAGE_KEY = 'skerran-playground';
// The most drafts kept; beyond, the least recently edited is forgotten.
export const KEPT_DRAFTS = 20;

function newId() {
  return `${Date.now().toString(36)}-${Math.random().toString(36).slice(2, 8)}`;
}

function isDraft(value) {
  return (
    value &&
    typeof value.id === 'string' &&
    typeof value.program === 'string' &&
    typeof value.input === 'string' &&
    Number.isFinite(value.edited)
  );
}

const newestFirst = (a, b) => b.edited - a.edited;

export class Drafts {
  #storage;
  #drafts = [];
  #changed = new Set();
  #shown = null;

  // `storage` is window.localStorage or anything with its getItem and setItem.
  constructor(storage) {
    this.#storage = storage;
    const stored = this.#read();
    this.#drafts = stored.drafts;
    this.#shown = stored.shown;
  }

  // The drafts, most recently edited first.
  get all() {
    return this.#drafts;
  }

  get(id) {
    return this.#drafts.find((draft) => draft.id === id) || null;
  }

  // What the page showed when it last saved: {kind: 'draft', id} or
  // {kind: 'example', name}, or null.
  get shown() {
    return this.#shown;
  }

  set shown(selection) {
    this.#shown = selection;
  }

  // A new draft, most recent of all.
  create(program, input) {
    const draft = { id: newId(), program, input, edited: Date.now() };
    this.#drafts.unshift(draft);
    this.#changed.add(draft.id);
    this.#drafts.splice(KEPT_DRAFTS);
    return draft;
  }

  update(id, program, input) {
    const draft = this.get(id);
    if (!draft) return null;
    Object.assign(draft, { program, input, edited: Date.now() });
    this.#changed.add(id);
    this.#drafts.sort(newestFirst);
    return draft;
  }

  // Writes what changed; gives null, or why the browser would not keep it.
  save() {
    let stored;
    try {
      stored = this.#read(true);
    } catch (error) {
      return error.message || String(error);
    }
    const merged = new Map(stored.drafts.map((draft) => [draft.id, draft]));
    for (const draft of this.#drafts) {
      if (this.#changed.has(draft.id) || !merged.has(draft.id)) merged.set(draft.id, draft);
    }
    const drafts = [...merged.values()].sort(newestFirst).slice(0, KEPT_DRAFTS);
    try {
      this.#storage.setItem(STORAGE_KEY, JSON.stringify({ drafts, shown: this.#shown }));
    } catch (error) {
      return error.message || String(error);
    }
    this.#changed.clear();
    this.#drafts = drafts.map((draft) => this.get(draft.id) || draft);
    return null;
  }

  // Takes in drafts that another page wrote, keeping this page's own.
  refresh() {
    const stored = this.#read();
    const own = new Map(this.#drafts.map((draft) => [draft.id, draft]));
    for (const draft of stored.drafts) if (!own.has(draft.id)) own.set(draft.id, draft);
    this.#drafts = [...own.values()].sort(newestFirst).slice(0, KEPT_DRAFTS);
  }

  #read(strict = false) {
    let value = null;
    try {
      value = JSON.parse(this.#storage.getItem(STORAGE_KEY) || 'null');
    } catch (error) {
      if (strict && !(error instanceof SyntaxError)) throw error;
    }
    const drafts = Array.isArray(value?.drafts) ? value.drafts.filter(isDraft).sort(newestFirst) : [];
    const shown = value?.shown && typeof value.shown.kind === 'string' ? value.shown : null;
    return { drafts, shown };
  }
}

// The names the menu gives drafts: the most recent is "Your program", the
// others say when they were last edited.
export function draftLabels(drafts) {
  const seen = new Map();
  return drafts.map((draft, index) => {
    if (index === 0) return 'Your program';
    const when = new Date(draft.edited).toLocaleString('en-GB', {
      day: 'numeric',
      month: 'short',
      hour: '2-digit',
      minute: '2-digit',
    });
    let label = `Your program of ${when}`;
    const count = (seen.get(label) || 0) + 1;
    seen.set(label, count);
    if (count > 1) label += ` (${count})`;
    return label;
  });
}
